// Windows has its own; this replacement is built only elsewhere.
#if !defined(_WIN32)
#include "Registry/RegistryText.h"

#include <cstdio>
#include <functional>
#include <optional>

namespace {

constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";
constexpr size_t kLineWidth = 80;

// ---- Writing ----------------------------------------------------------------------------

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                            nullptr);
    return out;
}

std::string Quoted(const std::wstring& text)
{
    std::string out = "\"";
    for (char c : Utf8(text)) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// A REG_SZ whose data is exactly one terminated string without control characters can be
// written as text; anything else keeps its bytes.
std::optional<std::wstring> AsPlainString(const RegistryValue& value)
{
    if (value.type != REG_SZ || value.data.empty() || value.data.size() % sizeof(WCHAR) != 0)
        return std::nullopt;
    std::wstring text(value.data.size() / sizeof(WCHAR), L'\0');
    std::memcpy(text.data(), value.data.data(), value.data.size());
    if (text.back() != 0)
        return std::nullopt;
    text.pop_back();
    for (wchar_t c : text) {
        if (c < 0x20 || c == 0x7F || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
            return std::nullopt;
    }
    return text;
}

// "hex:01,02,..." or "hex(N):...", continued over lines as the registry editor does.
std::string HexData(const std::string& prefix, const std::vector<BYTE>& data)
{
    std::string out = prefix;
    size_t lineLength = out.size();
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        const bool last = i + 1 == data.size();
        if (lineLength + 3 > kLineWidth - 2 && !last) {
            out += "\\\n  ";
            lineLength = 2;
        }
        out += byte;
        lineLength += 2;
        if (!last) {
            out += ',';
            ++lineLength;
        }
    }
    return out;
}

std::string ValueLine(const std::wstring& name, const RegistryValue& value)
{
    std::string line = name.empty() ? "@=" : Quoted(name) + "=";
    if (const auto text = AsPlainString(value))
        return line + Quoted(*text);
    if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, value.data.data(), sizeof number);
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(number));
        return line + digits;
    }
    if (value.type == REG_BINARY)
        return HexData(line + "hex:", value.data);
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
    return HexData(line + prefix, value.data);
}

void WriteKey(const RegistryKey& key, RegistryPath& path, const std::string& header, std::string& out)
{
    const bool hasValues = !key.GetValues().empty();
    const bool emptyLeaf = key.GetSubKeys().empty() && !path.empty() && !IsSystemKey(path);
    if (hasValues || emptyLeaf) {
        out += "[" + header + "]\n";
        for (const auto& [name, value] : key.GetValues())
            out += ValueLine(name, value) + "\n";
        out += "\n";
    }
    for (const auto& [name, subKey] : key.GetSubKeys()) {
        path.push_back(name);
        WriteKey(*subKey, path, header + "\\" + Utf8(subKey->Name()), out);
        path.pop_back();
    }
}

// ---- Reading ----------------------------------------------------------------------------

std::wstring Wide(std::string_view text)
{
    if (text.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string_view TrimRight(std::string_view text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string_view TrimLeft(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

// A quoted string at the start of text: its contents unescaped, and the rest after the quote.
bool ReadQuoted(std::string_view& text, std::string& out)
{
    if (text.empty() || text.front() != '"')
        return false;
    out.clear();
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (++i == text.size())
                return false;
            if (text[i] != '\\' && text[i] != '"')
                return false;
        }
        out += text[i];
    }
    return false;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ReadHexBytes(std::string_view text, std::vector<BYTE>& out)
{
    out.clear();
    if (text.empty())
        return true;
    while (true) {
        text = TrimLeft(text);
        if (text.size() < 2 || HexDigit(text[0]) < 0 || HexDigit(text[1]) < 0)
            return false;
        out.push_back(static_cast<BYTE>(HexDigit(text[0]) * 16 + HexDigit(text[1])));
        text = TrimLeft(text.substr(2));
        if (text.empty())
            return true;
        if (text.front() != ',')
            return false;
        text.remove_prefix(1);
    }
}

bool ReadHexNumber(std::string_view text, uint32_t& value, size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return true;
}

bool ReadValueData(std::string_view text, RegistryValue& value)
{
    if (!text.empty() && text.front() == '"') {
        std::string contents;
        if (!ReadQuoted(text, contents) || !TrimRight(text).empty())
            return false;
        std::wstring wide = Wide(contents);
        wide.push_back(L'\0');
        value.type = REG_SZ;
        value.data.resize(wide.size() * sizeof(WCHAR));
        std::memcpy(value.data.data(), wide.data(), value.data.size());
        return true;
    }
    if (text.substr(0, 6) == "dword:") {
        uint32_t number = 0;
        if (!ReadHexNumber(text.substr(6), number, 8))
            return false;
        value.type = REG_DWORD;
        value.data.resize(sizeof(DWORD));
        std::memcpy(value.data.data(), &number, sizeof(DWORD));
        return true;
    }
    if (text.substr(0, 4) == "hex:") {
        value.type = REG_BINARY;
        return ReadHexBytes(text.substr(4), value.data);
    }
    if (text.substr(0, 4) == "hex(") {
        const size_t close = text.find("):");
        uint32_t type = 0;
        if (close == std::string_view::npos || !ReadHexNumber(text.substr(4, close - 4), type, 8))
            return false;
        value.type = type;
        return ReadHexBytes(text.substr(close + 2), value.data);
    }
    return false;
}

class TextReader {
public:
    explicit TextReader(std::string_view text) : text_(text) {}

    bool Read(RegistryKey& root, std::string& error)
    {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            text_.remove_prefix(3);
        bool sawHeader = false;
        bool sawEnd = false;
        RegistryKey* section = nullptr;
        std::string line;
        while (NextLine(line)) {
            const std::string_view content = TrimRight(line);
            if (content.empty())
                continue;
            if (sawEnd)
                return Fail(error, "text after the end line");
            if (!sawHeader) {
                if (content != kRegistryHeader)
                    return Fail(error, "not a registry file (the first line must be \"" +
                                           std::string(kRegistryHeader) + "\")");
                sawHeader = true;
                continue;
            }
            if (content == kRegistryEndLine) {
                sawEnd = true;
                continue;
            }
            if (content.front() == ';')
                continue;
            if (content.front() == '[') {
                if (!OpenSection(content, root, section, error))
                    return false;
                continue;
            }
            if (section == nullptr)
                return Fail(error, "a value before the first key");
            if (!ReadValueLine(content, *section, error))
                return false;
        }
        if (!sawHeader)
            return Fail(error, "the file is empty");
        if (!sawEnd) {
            lineNumber_ = 0;
            return Fail(error, "the file ends before its end line (\"" + std::string(kRegistryEndLine) +
                                   "\"): it was cut short");
        }
        return true;
    }

private:
    // The next logical line: physical lines ending in a backslash continue on the next one.
    bool NextLine(std::string& line)
    {
        line.clear();
        if (text_.empty())
            return false;
        ++lineNumber_;
        while (true) {
            const size_t end = text_.find('\n');
            std::string_view physical = text_.substr(0, end);
            text_.remove_prefix(end == std::string_view::npos ? text_.size() : end + 1);
            physical = TrimRight(physical);
            if (!physical.empty() && physical.back() == '\\' && !text_.empty()) {
                physical.remove_suffix(1);
                line += physical;
                ++lineNumber_;
                const size_t next = text_.find('\n');
                std::string_view peek = text_.substr(0, next);
                const size_t indent = peek.size() - TrimLeft(peek).size();
                text_.remove_prefix(indent);
                continue;
            }
            line += physical;
            return true;
        }
    }

    bool OpenSection(std::string_view content, RegistryKey& root, RegistryKey*& section, std::string& error)
    {
        if (content.back() != ']')
            return Fail(error, "a key line without its closing bracket");
        std::string_view name = content.substr(1, content.size() - 2);
        if (!name.empty() && name.front() == '-')
            return Fail(error, "key deletions are not part of a registry file");
        if (name.substr(0, kRootName.size()) != kRootName ||
            (name.size() > kRootName.size() && name[kRootName.size()] != '\\'))
            return Fail(error, "a key outside HKEY_CLASSES_ROOT");
        name.remove_prefix(std::min(name.size(), kRootName.size() + 1));
        RegistryPath path;
        if (!ParseRegistryPath(Wide(name), path))
            return Fail(error, "a key name that is empty, too long or holds control characters");
        section = &root;
        bool created = false;
        for (const std::wstring& part : path)
            section = &section->Open(part, created);
        return true;
    }

    bool ReadValueLine(std::string_view content, RegistryKey& section, std::string& error)
    {
        std::string name;
        if (content.front() == '@') {
            content.remove_prefix(1);
        } else if (!ReadQuoted(content, name)) {
            return Fail(error, "a line that is neither a key, a value nor a comment");
        }
        content = TrimLeft(content);
        if (content.empty() || content.front() != '=')
            return Fail(error, "a value without '='");
        content = TrimLeft(content.substr(1));
        if (content == "-")
            return Fail(error, "value deletions are not part of a registry file");
        RegistryValue value;
        if (!ReadValueData(content, value))
            return Fail(error, "a value whose data cannot be read");
        section.GetValues()[Wide(name)] = std::move(value);
        return true;
    }

    bool Fail(std::string& error, const std::string& message) const
    {
        error = lineNumber_ > 0 ? "line " + std::to_string(lineNumber_) + ": " + message : message;
        return false;
    }

    std::string_view text_;
    size_t lineNumber_ = 0;
};

} // namespace

std::string WriteRegistryText(const RegistryKey& root)
{
    std::string body;
    RegistryPath path;
    WriteKey(root, path, std::string(kRootName), body);
    if (body.empty())
        return {};
    return std::string(kRegistryHeader) + "\n\n" + body + std::string(kRegistryEndLine) + "\n";
}

bool ReadRegistryText(std::string_view text, RegistryKey& root, std::string& error)
{
    RegistryKey parsed(root.Name());
    if (!TextReader(text).Read(parsed, error))
        return false;
    root = std::move(parsed);
    return true;
}

#endif
