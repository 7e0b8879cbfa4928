// Form files: the writer walks the published properties of each component of
// the ownership tree; the reader is a lexer with one token of lookahead and a
// recursive parser bounded by MaxFormDepth. Nothing the reader allocates
// grows faster than its input.
#include "Formstream.h"

#include "Frameworkerrors.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>
#include <vector>

namespace Vcl {

namespace {

// ---- writing ----

std::string QuoteString(const std::string& text)
{
    if (text.empty())
        return "''";
    std::string out;
    bool quoted = false;
    for (char c : text) {
        const unsigned char code = static_cast<unsigned char>(c);
        if (code < 32 || code > 126) {
            if (quoted)
                out += '\'';
            quoted = false;
            out += '#';
            out += std::to_string(code);
        } else {
            if (!quoted)
                out += '\'';
            quoted = true;
            if (c == '\'')
                out += '\'';
            out += c;
        }
    }
    if (quoted)
        out += '\'';
    return out;
}

std::string SetText(const TTypeInfo& type, Ordinal bits)
{
    std::string out = "[";
    const TTypeInfo& element = *type.CompType();
    for (Ordinal n = element.MinValue(); n <= element.MaxValue(); ++n) {
        if ((static_cast<std::uint64_t>(bits) >> n & 1u) == 0)
            continue;
        if (out.size() > 1)
            out += ", ";
        out += element.EnumName(n);
    }
    return out + "]";
}

// Whether the form writer stores `property` of `object`, and its text if so.
bool StoredText(const TPropInfo& property, const TComponent& object, const TComponent& root, std::string& text)
{
    if (property.ReadAccess() == TAccess::None || property.WriteAccess() == TAccess::None ||
        !property.IsStored(object))
        return false;
    switch (property.PropType().Kind()) {
    case TTypeKind::Integer:
    case TTypeKind::Enumeration:
    case TTypeKind::Set:
        if (property.HasDefault() && property.GetOrd(object) == property.Default())
            return false;
        break;
    case TTypeKind::String:
        if (property.GetStr(object).IsEmpty())
            return false;
        break;
    case TTypeKind::Method:
        if (!property.MethodAssigned(object))
            return false;
        break;
    }
    text = PropertyValueText(property, object, &root);
    return !text.empty();
}

void WriteObject(std::ostream& out, const TComponent& component, const TComponent& root, int depth)
{
    if (depth > MaxFormDepth)
        throw EWriteError("Components nested deeper than " + std::to_string(MaxFormDepth) + " levels");
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    out << indent << "object ";
    if (!component.GetName().IsEmpty())
        out << component.GetName() << ": ";
    out << component.ClassName() << '\n';
    for (const TPropInfo* property : component.ClassType()->Properties()) {
        std::string text;
        if (StoredText(*property, component, root, text))
            out << indent << "  " << property->Name() << " = " << text << '\n';
    }
    for (int i = 0; i < component.ComponentCount(); ++i)
        WriteObject(out, *component.GetComponent(i), root, depth + 1);
    out << indent << "end\n";
}

// ---- reading ----

enum class TokenKind { End, Ident, Number, String, Symbol };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;       // identifier, digits or string value
    char symbol = 0;        // for Symbol
    int line = 1;
};

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    Token Next()
    {
        skipSpace();
        Token token;
        token.line = line_;
        if (pos_ >= text_.size())
            return token;
        const char c = text_[pos_];
        if (isIdentStart(c)) {
            const std::size_t start = pos_;
            while (pos_ < text_.size() && (isIdentStart(text_[pos_]) || isDigit(text_[pos_])))
                ++pos_;
            if (pos_ - start > MaxIdentLength)
                fail("Identifier longer than " + std::to_string(MaxIdentLength) + " characters");
            token.kind = TokenKind::Ident;
            token.text.assign(text_.substr(start, pos_ - start));
        } else if (isDigit(c)) {
            const std::size_t start = pos_;
            while (pos_ < text_.size() && isDigit(text_[pos_]))
                ++pos_;
            // Longer than any 32-bit value needs, leading zeros aside.
            if (pos_ - start > 20)
                fail("Number too long");
            token.kind = TokenKind::Number;
            token.text.assign(text_.substr(start, pos_ - start));
        } else if (c == '\'' || c == '#') {
            token.kind = TokenKind::String;
            token.text = readString();
        } else if (c == ':' || c == '=' || c == '[' || c == ']' || c == ',' || c == '-') {
            token.kind = TokenKind::Symbol;
            token.symbol = c;
            ++pos_;
        } else {
            fail("Invalid character with code " + std::to_string(static_cast<unsigned char>(c)));
        }
        return token;
    }

    [[noreturn]] void fail(const std::string& message) const
    {
        throw EReadError("Line " + std::to_string(line_) + ": " + message);
    }

private:
    static bool isIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    void skipSpace()
    {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r')
                return;
            ++pos_;
        }
    }

    // Quoted runs and #n character codes, adjacent, make one string.
    std::string readString()
    {
        std::string value;
        while (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '#')) {
            if (text_[pos_] == '#') {
                ++pos_;
                unsigned code = 0;
                std::size_t digits = 0;
                while (pos_ < text_.size() && isDigit(text_[pos_])) {
                    code = code * 10 + static_cast<unsigned>(text_[pos_] - '0');
                    if (code > 255)
                        fail("Character code above 255");
                    ++pos_;
                    ++digits;
                }
                if (digits == 0)
                    fail("# without a character code");
                if (code == 0)
                    fail("A text cannot hold the character #0");
                value += static_cast<char>(code);
                continue;
            }
            ++pos_;  // opening quote
            for (;;) {
                if (pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r')
                    fail("Unterminated string");
                const char c = text_[pos_++];
                if (c == '\'') {
                    if (pos_ < text_.size() && text_[pos_] == '\'') {
                        value += '\'';
                        ++pos_;
                        continue;
                    }
                    break;
                }
                if (c == '\0')
                    fail("A text cannot hold the character #0");
                value += c;
            }
        }
        return value;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

class Reader {
public:
    Reader(std::string_view text, TComponent* root) : lexer_(text), root_(root) { advance(); }

    // Reads the root block. With an existing root (ReadComponentTextInto) the
    // text must name its class; otherwise the root is created owned by `owner`.
    TComponent* ReadRoot(TComponent* owner, std::vector<TComponent*>& created)
    {
        const int line = current_.line;
        expectKeyword("object");
        std::string name, className;
        readHeader(name, className);
        std::unique_ptr<TComponent> made;
        TComponent* component = root_;
        if (component != nullptr) {
            if (!SameText(component->ClassName(), className))
                failAt(line, "The form holds a " + className + ", not a " + component->ClassName());
        } else {
            made.reset(create(className, owner, line));
            component = root_ = made.get();
        }
        guarded([&] { component->SetName(System::AnsiString(name)); }, name, "Name", line);
        readBody(*component, 0, &created);
        if (current_.kind != TokenKind::End)
            fail("Text after the end of the form");
        made.release();
        return component;
    }

private:
    void advance() { current_ = lexer_.Next(); }

    [[noreturn]] void fail(const std::string& message) const { failAt(current_.line, message); }
    [[noreturn]] static void failAt(int line, const std::string& message)
    {
        throw EReadError("Line " + std::to_string(line) + ": " + message);
    }

    bool isSymbol(char c) const { return current_.kind == TokenKind::Symbol && current_.symbol == c; }

    void expectSymbol(char c)
    {
        if (!isSymbol(c))
            fail(std::string("'") + c + "' expected");
        advance();
    }

    std::string expectIdent(const char* what)
    {
        if (current_.kind != TokenKind::Ident)
            fail(std::string(what) + " expected");
        std::string text = current_.text;
        advance();
        return text;
    }

    void expectKeyword(const char* keyword)
    {
        if (current_.kind != TokenKind::Ident || !SameText(current_.text, keyword))
            fail(std::string("'") + keyword + "' expected");
        advance();
    }

    // After `object`: `Name: ClassName` or `ClassName`.
    void readHeader(std::string& name, std::string& className)
    {
        const std::string first = expectIdent("A component name or class name");
        if (isSymbol(':')) {
            advance();
            name = first;
            className = expectIdent("A class name");
        } else {
            className = first;
        }
    }

    TComponent* create(const std::string& className, TComponent* owner, int line)
    {
        const TClass cls = GetClass(className);
        if (cls == nullptr)
            failAt(line, "Class " + className + " not found");
        if (!cls->InheritsFrom(TComponent::StaticClass()) || !cls->IsConstructible())
            failAt(line, "Class " + className + " cannot be created from a form");
        TComponent* component = nullptr;
        guarded([&] { component = cls->Create(owner); }, className, "create", line);
        return component;
    }

    // Runs `action`, turning a framework error into a read error that names
    // the line, the component and the property.
    template <class Action>
    static void guarded(Action action, const std::string& component, const std::string& property, int line)
    {
        try {
            action();
        } catch (const EReadError&) {
            throw;
        } catch (const Exception& error) {
            failAt(line, "Error reading " + component + "." + property + ": " + error.what());
        }
    }

    // Marks a component as loading while its block is read.
    class LoadingScope {
    public:
        explicit LoadingScope(TComponent& component) : component_(component), previous_(component.Loading())
        {
            component_.SetLoading(true);
        }
        ~LoadingScope() { component_.SetLoading(previous_); }
        LoadingScope(const LoadingScope&) = delete;
        LoadingScope& operator=(const LoadingScope&) = delete;

    private:
        TComponent& component_;
        bool previous_;
    };

    // The properties and nested objects up to and including `end`.
    void readBody(TComponent& component, int depth, std::vector<TComponent*>* created)
    {
        LoadingScope loading(component);
        const std::string componentName =
            component.GetName().IsEmpty() ? component.ClassName() : component.GetName().ToStdString();
        for (;;) {
            const int line = current_.line;
            const std::string word = expectIdent("A property, 'object' or 'end'");
            if (isSymbol('=')) {
                advance();
                readProperty(component, componentName, word);
                continue;
            }
            if (SameText(word, "end"))
                return;
            if (!SameText(word, "object"))
                failAt(line, "'=' expected after " + word);
            if (depth + 1 > MaxFormDepth)
                fail("Components nested deeper than " + std::to_string(MaxFormDepth) + " levels");
            std::string name, className;
            readHeader(name, className);
            TComponent* child = create(className, &component, line);
            if (created != nullptr)
                created->push_back(child);
            guarded([&] { child->SetName(System::AnsiString(name)); }, name.empty() ? className : name, "Name",
                    line);
            readBody(*child, depth + 1, nullptr);
        }
    }

    // Reads the value after `name =`; errors name the line where the value starts.
    void readProperty(TComponent& component, const std::string& componentName, const std::string& name)
    {
        const int line = current_.line;
        const TPropInfo* property = component.ClassType()->FindProperty(name);
        if (property == nullptr)
            failAt(line, "Property " + name + " does not exist in " + component.ClassName());
        if (property->WriteAccess() == TAccess::None)
            failAt(line, "Property " + name + " is read-only");
        const TTypeInfo& type = property->PropType();
        switch (type.Kind()) {
        case TTypeKind::Integer: {
            const bool negative = isSymbol('-');
            if (negative)
                advance();
            if (current_.kind != TokenKind::Number)
                failAt(line, "Integer value expected for " + name);
            Ordinal value = 0;
            for (char digit : current_.text) {
                value = value * 10 + (digit - '0');
                if (value > (Ordinal{1} << 32))
                    failAt(line, "Integer out of range for " + name);
            }
            advance();
            if (negative)
                value = -value;
            guarded([&] { property->SetOrd(component, value); }, componentName, name, line);
            break;
        }
        case TTypeKind::Enumeration: {
            const std::string word = expectIdent("An enumerator name");
            const Ordinal value = type.EnumValue(word);
            if (value < 0)
                failAt(line, "Invalid value " + word + " for " + name);
            guarded([&] { property->SetOrd(component, value); }, componentName, name, line);
            break;
        }
        case TTypeKind::Set: {
            expectSymbol('[');
            std::uint64_t bits = 0;
            if (!isSymbol(']')) {
                for (;;) {
                    const std::string word = expectIdent("A set element");
                    const Ordinal value = type.CompType()->EnumValue(word);
                    if (value < 0)
                        failAt(line, "Invalid set element " + word + " for " + name);
                    bits |= std::uint64_t{1} << value;
                    if (!isSymbol(','))
                        break;
                    advance();
                }
            }
            expectSymbol(']');
            guarded([&] { property->SetOrd(component, static_cast<Ordinal>(bits)); }, componentName, name, line);
            break;
        }
        case TTypeKind::String: {
            if (current_.kind != TokenKind::String)
                failAt(line, "String value expected for " + name);
            const System::AnsiString value(current_.text);
            advance();
            guarded([&] { property->SetStr(component, value); }, componentName, name, line);
            break;
        }
        case TTypeKind::Method: {
            const std::string handler = expectIdent("A method name");
            const TMethodEntry* method = root_->ClassType()->FindMethod(handler);
            if (method == nullptr)
                failAt(line, "Method " + handler + " not found in " + root_->ClassName());
            guarded([&] { property->SetMethod(component, method->Bind(*root_)); }, componentName, name, line);
            break;
        }
        }
    }

    Lexer lexer_;
    Token current_;
    TComponent* root_;
};

}  // namespace

std::string PropertyValueText(const TPropInfo& property, const TObject& object, const TComponent* root)
{
    const TTypeInfo& type = property.PropType();
    switch (type.Kind()) {
    case TTypeKind::Integer:
        return std::to_string(property.GetOrd(object));
    case TTypeKind::Enumeration:
        return type.EnumName(property.GetOrd(object));
    case TTypeKind::Set:
        return SetText(type, property.GetOrd(object));
    case TTypeKind::String:
        return QuoteString(property.GetStr(object).ToStdString());
    case TTypeKind::Method:
        if (root == nullptr || !property.MethodAssigned(object))
            return std::string();
        // Naming a method does not change the root; the lookup binds it only
        // to compare with the event's closure.
        return root->ClassType()->MethodName(const_cast<TComponent&>(*root), property.GetMethod(object));
    }
    return std::string();
}

void WriteComponentText(std::ostream& out, const TComponent& root)
{
    WriteObject(out, root, root, 0);
}

std::string ComponentToText(const TComponent& root)
{
    std::ostringstream out;
    WriteComponentText(out, root);
    return out.str();
}

TComponent* ReadComponentText(std::string_view text, TComponent* owner)
{
    std::vector<TComponent*> created;
    Reader reader(text, nullptr);
    // The reader owns the new root until the whole text is read; a failure
    // destroys it and everything created inside it.
    return reader.ReadRoot(owner, created);
}

void ReadComponentTextInto(std::string_view text, TComponent& root)
{
    std::vector<TComponent*> created;
    try {
        Reader reader(text, &root);
        reader.ReadRoot(nullptr, created);
    } catch (...) {
        for (auto it = created.rbegin(); it != created.rend(); ++it)
            if ((*it)->GetOwner() == &root)
                delete *it;
        throw;
    }
}

}  // namespace Vcl
