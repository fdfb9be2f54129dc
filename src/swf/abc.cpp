#include "swf/abc.h"

namespace abc {

namespace {

void PutU30(QByteArray& out, quint32 value) {
    do {
        quint8 byte = value & 0x7F;
        value >>= 7;
        if (value != 0) {
            byte |= 0x80;
        }
        out.append(static_cast<char>(byte));
    } while (value != 0);
}

// A pool's count: its entries plus the implied entry 0.
void PutCount(QByteArray& out, qsizetype entries) {
    PutU30(out, entries == 0 ? 0 : static_cast<quint32>(entries + 1));
}

// Any scope depth the host's methods reach; the engine only checks the bound.
constexpr int kMaxScopeDepth = 8;

}  // namespace

Code& Code::Op(quint8 code) {
    bytes_.append(static_cast<char>(code));
    return *this;
}

Code& Code::U30(quint32 value) {
    PutU30(bytes_, value);
    return *this;
}

Code& Code::GetLocal(int n) {
    return Op(static_cast<quint8>(0xD0 + n));
}

Code& Code::SetLocal(int n) {
    return Op(static_cast<quint8>(0xD4 + n));
}

int Code::Jump(quint8 code) {
    Op(code);
    const int at = static_cast<int>(bytes_.size());
    bytes_.append(3, '\0');
    return at;
}

Code& Code::Land(int jump) {
    const int offset = static_cast<int>(bytes_.size()) - (jump + 3);
    for (int i = 0; i < 3; ++i) {
        bytes_[jump + i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
    }
    return *this;
}

int File::String(const QString& text) {
    const auto it = stringIndex_.constFind(text);
    if (it != stringIndex_.cend()) {
        return *it;
    }
    strings_.append(text);
    const int index = static_cast<int>(strings_.size());  // entry 0 is implied
    stringIndex_.insert(text, index);
    return index;
}

int File::Namespace(const QString& package) {
    const int name = String(package);
    const qsizetype at = namespaces_.indexOf(name);
    if (at >= 0) {
        return static_cast<int>(at + 1);
    }
    namespaces_.append(name);
    return static_cast<int>(namespaces_.size());
}

int File::QName(const QString& package, const QString& name) {
    const std::pair<int, int> entry{Namespace(package), String(name)};
    const qsizetype at = multinames_.indexOf(entry);
    if (at >= 0) {
        return static_cast<int>(at + 1);
    }
    multinames_.append(entry);
    return static_cast<int>(multinames_.size());
}

int File::Method(int params, const Code& body, int maxStack, int locals) {
    const int index = static_cast<int>(methodParams_.size());
    methodParams_.append(params);
    bodies_.append({index, body.Bytes(), maxStack, locals});
    return index;
}

int File::Class(int name, int superName, int constructor, const QList<Trait>& methods,
                int classInit) {
    classes_.append({name, superName, constructor, classInit, methods});
    return static_cast<int>(classes_.size() - 1);
}

void File::Script(const Code& init, int maxStack) {
    scriptInit_ = Method(0, init, maxStack, 1);
}

QByteArray File::Finish() const {
    QByteArray out;
    out.append("\x10\x00\x2e\x00", 4);  // minor 16, major 46
    PutCount(out, 0);                   // ints
    PutCount(out, 0);                   // unsigned ints
    PutCount(out, 0);                   // doubles
    PutCount(out, strings_.size());
    for (const QString& text : strings_) {
        const QByteArray utf8 = text.toUtf8();
        PutU30(out, static_cast<quint32>(utf8.size()));
        out.append(utf8);
    }
    PutCount(out, namespaces_.size());
    for (int name : namespaces_) {
        out.append('\x16');  // package namespace
        PutU30(out, name);
    }
    PutCount(out, 0);  // namespace sets
    PutCount(out, multinames_.size());
    for (const auto& [ns, name] : multinames_) {
        out.append('\x07');  // qualified name
        PutU30(out, ns);
        PutU30(out, name);
    }
    PutU30(out, static_cast<quint32>(methodParams_.size()));
    for (int params : methodParams_) {
        PutU30(out, params);
        PutU30(out, 0);  // returns any
        for (int i = 0; i < params; ++i) {
            PutU30(out, 0);  // any
        }
        PutU30(out, 0);  // no name
        out.append('\0');
    }
    PutU30(out, 0);  // metadata
    PutU30(out, static_cast<quint32>(classes_.size()));
    for (const ClassDef& c : classes_) {
        PutU30(out, c.name);
        PutU30(out, c.superName);
        out.append('\0');  // not sealed, no protected namespace
        PutU30(out, 0);    // interfaces
        PutU30(out, c.constructor);
        PutU30(out, static_cast<quint32>(c.methods.size()));
        for (const Trait& t : c.methods) {
            PutU30(out, t.name);
            out.append('\x01');  // method
            PutU30(out, 0);      // dispatch id chosen by the engine
            PutU30(out, t.method);
        }
    }
    for (const ClassDef& c : classes_) {
        PutU30(out, c.classInit);
        PutU30(out, 0);
    }
    PutU30(out, 1);  // one script
    PutU30(out, scriptInit_);
    PutU30(out, static_cast<quint32>(classes_.size()));
    for (qsizetype i = 0; i < classes_.size(); ++i) {
        PutU30(out, classes_[i].name);
        out.append('\x04');  // class
        PutU30(out, 0);      // slot chosen by the engine
        PutU30(out, static_cast<quint32>(i));
    }
    PutU30(out, static_cast<quint32>(bodies_.size()));
    for (const Body& b : bodies_) {
        PutU30(out, b.method);
        PutU30(out, b.maxStack);
        PutU30(out, b.locals);
        PutU30(out, 0);  // initial scope depth
        PutU30(out, kMaxScopeDepth);
        PutU30(out, static_cast<quint32>(b.code.size()));
        out.append(b.code);
        PutU30(out, 0);  // exceptions
        PutU30(out, 0);  // traits
    }
    return out;
}

}  // namespace abc
