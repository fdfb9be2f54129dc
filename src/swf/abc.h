#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// ActionScript 3 byte code: an ABC file with one script that defines classes, written for
// the small movies the program makes itself.
namespace abc {

// A method's byte code, written as the instructions are appended.
class Code {
  public:
    Code& Op(quint8 code);
    Code& U30(quint32 value);
    Code& GetLocal(int n);  // getlocal_0 .. getlocal_3
    Code& SetLocal(int n);  // setlocal_0 .. setlocal_3
    Code& PushScope() { return Op(0x30); }
    Code& ConstructSuper(int args) { return Op(0x49).U30(args); }
    Code& FindPropStrict(int name) { return Op(0x5D).U30(name); }
    Code& GetLex(int name) { return Op(0x60).U30(name); }
    Code& GetProperty(int name) { return Op(0x66).U30(name); }
    Code& InitProperty(int name) { return Op(0x68).U30(name); }
    Code& ConstructProp(int name, int args) { return Op(0x4A).U30(name).U30(args); }
    Code& CallPropVoid(int name, int args) { return Op(0x4F).U30(name).U30(args); }
    Code& PushString(int string) { return Op(0x2C).U30(string); }
    Code& PushByte(qint8 value) { return Op(0x24).Op(static_cast<quint8>(value)); }
    Code& GetScopeObject(int index) { return Op(0x65).Op(static_cast<quint8>(index)); }
    Code& NewClass(int index) { return Op(0x58).U30(index); }
    Code& Add() { return Op(0xA0); }
    Code& Dup() { return Op(0x2A); }
    Code& Pop() { return Op(0x29); }
    Code& ReturnVoid() { return Op(0x47); }
    Code& ReturnValue() { return Op(0x48); }
    // A forward jump when the value on the stack is false (true); Land() marks its target.
    int IfFalse() { return Jump(0x12); }
    int IfTrue() { return Jump(0x11); }
    Code& Land(int jump);
    const QByteArray& Bytes() const { return bytes_; }

  private:
    int Jump(quint8 code);
    QByteArray bytes_;
};

class File {
  public:
    int String(const QString& text);
    int QName(const QString& package, const QString& name);  // in the package's namespace
    int Public(const QString& name) { return QName(QString(), name); }
    // A method of `params` untyped parameters with its body.
    int Method(int params, const Code& body, int maxStack, int locals);
    // A class of instance methods (name and method), not sealed; returns its index.
    struct Trait {
        int name;
        int method;
    };
    int Class(int name, int superName, int constructor, const QList<Trait>& methods, int classInit);
    // The script that defines every class as a global; its code is `init`.
    void Script(const Code& init, int maxStack);
    QByteArray Finish() const;

  private:
    int Namespace(const QString& package);
    struct Body {
        int method;
        QByteArray code;
        int maxStack;
        int locals;
    };
    struct ClassDef {
        int name, superName, constructor, classInit;
        QList<Trait> methods;
    };
    QList<QString> strings_;
    QHash<QString, int> stringIndex_;
    QList<int> namespaces_;                  // string index of each package name
    QList<std::pair<int, int>> multinames_;  // namespace, name
    QList<int> methodParams_;
    QList<Body> bodies_;
    QList<ClassDef> classes_;
    int scriptInit_ = -1;
};

}  // namespace abc
