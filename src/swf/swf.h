#pragma once

#include <QByteArray>
#include <QColor>
#include <QIODevice>
#include <QList>
#include <QRect>
#include <QString>
#include <QVariant>

#include <optional>

// Flash movie files: the header fields the player needs, and a writer for the small
// movies the program makes itself (the host movie, the download movie, test movies).
namespace swf {

struct Header {
    int version = 0;
    QRect stage;           // in pixels
    double frameRate = 0;  // frames per second
    int frameCount = 0;
    std::optional<QColor> background;  // from SetBackgroundColor, when it comes first
    bool actionScript3 = false;        // FileAttributes says ActionScript 3 (version 9 on)
};

// How much of a movie file ReadHeader looks at: its start, never the whole file.
constexpr qsizetype kHeaderPrefix = 64 * 1024;

// Reads an uncompressed ("FWS") or zlib ("CWS") movie's header from the start of the file
// (its first kHeaderPrefix bytes are enough; a compressed body is inflated no further than
// that, whatever length the file claims); nullopt when the bytes are no such movie.
// ("ZWS", LZMA, is not read.)
std::optional<Header> ReadHeader(const QByteArray& fileStart);

// Whether a whole movie file is as long as its header says: an uncompressed ("FWS") movie
// holds the declared length, a zlib ("CWS") one inflates to it, and an LZMA ("ZWS") one
// holds the compressed length it states. Reads `file` from its position to its end, a
// block at a time. nullopt when it is whole; else what is wrong, in words for the log
// ("cut: 1200 of 5000 bytes").
std::optional<QString> Incomplete(QIODevice& file);

// AVM1 byte code, written as the actions are appended.
class Actions {
  public:
    // Push values: QString, double, int, bool, nullptr (null), or Undefined().
    struct Undefined {};
    Actions& Push(const QVariantList& values);
    Actions& PushString(const QString& text) { return Push({text}); }
    Actions& PushNumber(double value) { return Push({value}); }
    Actions& PushNull();
    Actions& PushUndefined();
    Actions& Op(quint8 code);  // an action without payload
    Actions& GetVariable() { return Op(0x1C); }
    Actions& SetVariable() { return Op(0x1D); }
    Actions& GetMember() { return Op(0x4E); }
    Actions& SetMember() { return Op(0x4F); }
    Actions& CallMethod() { return Op(0x52); }
    Actions& CallFunction() { return Op(0x3D); }
    Actions& Pop() { return Op(0x17); }
    Actions& Return() { return Op(0x3E); }
    Actions& Add2() { return Op(0x47); }
    Actions& Equals2() { return Op(0x49); }
    Actions& Less2() { return Op(0x48); }
    Actions& Not() { return Op(0x12); }
    Actions& Play() { return Op(0x06); }
    Actions& Stop() { return Op(0x07); }
    // getURL2 with the URL and the target on the stack (method 0); with `loadVariables`,
    // loadVariables into the target.
    Actions& GetUrl2(bool loadTarget = false, bool loadVariables = false);
    // A function with named parameters; as an expression when `name` is empty.
    Actions& DefineFunction(const QString& name, const QStringList& params, const Actions& body);
    // Skips the next `bytes` bytes when the value on the stack is true.
    Actions& If(qint16 bytes);
    // Calls object.method(args...) (args already pushed in reverse) and drops the result.
    Actions& CallMethodOn(const QString& objectPath, const QString& method, int argCount,
                          bool keepResult = false);
    // Pushes the value at a dotted path ("flash.external.ExternalInterface").
    Actions& PushPath(const QString& path);
    Actions& End() { return Op(0x00); }
    Actions& Append(const Actions& other) {
        bytes_.append(other.bytes_);
        return *this;
    }
    const QByteArray& Bytes() const { return bytes_; }
    int Size() const { return static_cast<int>(bytes_.size()); }

  private:
    Actions& WithU16(quint8 code, quint16 value);
    QByteArray bytes_;
};

// A movie, frame by frame.
class Writer {
  public:
    Writer(int version, QSize stage, double frameRate);
    void SetBackground(QColor colour);
    // A rectangle filled with a colour, as character `id`, placed at `depth`.
    void AddRectangle(int id, const QRect& rect, QColor colour, int depth);
    // A dynamic text field bound to `variable`, device font, `height` pixels.
    void AddTextField(int id, const QRect& rect, const QString& variable, const QString& text,
                      QColor colour, int height, int depth);
    void AddActions(const Actions& actions);
    // FileAttributes; the movie's first tag. `actionScript3` runs its code in AVM2.
    void SetFileAttributes(bool actionScript3);
    // ActionScript 3 byte code (an ABC file), and the class its main timeline is made of.
    void AddAbc(const QByteArray& abc, const QString& mainClass);
    // Moves what is placed at `depth` by `offset` pixels from where it was defined.
    void Move(int depth, QPoint offset);
    void ShowFrame();
    QByteArray Finish(bool compress = false);

  private:
    void Tag(int code, const QByteArray& body);
    void Place(int id, int depth);  // PlaceObject2 with an identity matrix
    int version_;
    QSize stage_;
    double frameRate_;
    int frames_ = 0;
    QByteArray tags_;
};

// The header reader's counterpart: RECT in twips, as written in SWF headers.
QByteArray Rect(int xMin, int xMax, int yMin, int yMax);

}  // namespace swf
