// The registry off Windows: its text format, the registry calls' Windows semantics over the
// file, and a file that is damaged, unreadable or written by several writers at once.
#include "Registry/RegistryFile.h"
#include "Registry/RegistryText.h"

#include "FilterCatalog.h"
#include "RunTool.h"
#include "TestData.h"
#include "TestRegistry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

namespace BaseClassesTest {
namespace {

RegistryValue StringValue(const std::wstring& text)
{
    RegistryValue value{REG_SZ, std::vector<BYTE>((text.size() + 1) * sizeof(WCHAR))};
    std::memcpy(value.data.data(), text.c_str(), value.data.size());
    return value;
}

RegistryKey& KeyAt(RegistryKey& root, const RegistryPath& path)
{
    bool created = false;
    RegistryKey* key = &root;
    for (const std::wstring& name : path)
        key = &key->Open(name, created);
    return *key;
}

// Every kind of value and name the format has to carry.
RegistryKey SampleTree()
{
    RegistryKey root(L"");
    AddSystemKeys(root);
    RegistryKey& server = KeyAt(root, {L"CLSID", L"{379040D2-0044-4192-933D-87FE5C9BCBC3}", L"InprocServer32"});
    server.GetValues()[L""] = StringValue(L"/opt/Fïlters/Sk \"Ds\" Demux\\x.so");
    server.GetValues()[L"ThreadingModel"] = StringValue(L"Both");
    RegistryKey& other = KeyAt(root, {L"Other", L"Empty leaf"});
    (void)other;
    RegistryKey& values = KeyAt(root, {L"Values"});
    DWORD merit = MERIT_DO_NOT_USE;
    values.GetValues()[L"Merit"] = {REG_DWORD, std::vector<BYTE>(reinterpret_cast<BYTE*>(&merit), reinterpret_cast<BYTE*>(&merit) + 4)};
    std::vector<BYTE> blob(200);
    for (size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<BYTE>(i * 7);
    values.GetValues()[L"Blob"] = {REG_BINARY, blob};
    values.GetValues()[L"Empty blob"] = {REG_BINARY, {}};
    values.GetValues()[L"Multi"] = {7, {1, 0, 0, 0, 0, 0, 0, 0}};
    values.GetValues()[L"Line break"] = StringValue(L"two\nlines");
    values.GetValues()[L"Not terminated"] = {REG_SZ, {65, 0, 0, 0}};
    root.GetValues()[L""] = StringValue(L"the root's own");
    return root;
}

TEST(RegistryText, EveryValueSurvivesWritingAndReadingInTheEditorsFormat)
{
    const RegistryKey tree = SampleTree();
    const std::string text = WriteRegistryText(tree);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\CLSID\\{379040D2-0044-4192-933D-87FE5C9BCBC3}\\InprocServer32]\n"
                        "@=\"/opt/F\xC3\xAFlters/Sk \\\"Ds\\\" Demux\\\\x.so\"\n\"ThreadingModel\"=\"Both\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"Merit\"=dword:00200000\n"), std::string::npos);
    EXPECT_NE(text.find("\"Blob\"=hex:00,07,0e,15,"), std::string::npos);
    EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "long binary data continues on the next line";
    EXPECT_NE(text.find("\"Multi\"=hex(7):01,00,"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\Other\\Empty leaf]\n"), std::string::npos);
    EXPECT_EQ(text.find("[HKEY_CLASSES_ROOT\\CLSID]"), std::string::npos) << "system keys are implied";
    EXPECT_EQ(text.substr(text.size() - 18), "; end of registry\n");
    size_t start = 0; // every physical line fits the editor's width
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
        start = end + 1;
    }

    RegistryKey read(L"");
    std::string error;
    ASSERT_TRUE(ReadRegistryText(text, read, error)) << error;
    EXPECT_EQ(WriteRegistryText(read), text);
    const RegistryKey* server = read.Find(RegistryPath{L"clsid", L"{379040d2-0044-4192-933d-87fe5c9bcbc3}", L"INPROCSERVER32"});
    ASSERT_NE(server, nullptr) << "names compare without regard to case";
    EXPECT_EQ(server->GetValues().at(L"threadingmodel"), StringValue(L"Both"));
    EXPECT_EQ(read.Find(RegistryPath{L"Values"})->GetValues().at(L"Not terminated").data, (std::vector<BYTE>{65, 0, 0, 0}));
    EXPECT_EQ(read.Find(RegistryPath{L"Values"})->GetValues().at(L"Line break"), StringValue(L"two\nlines"));

    EXPECT_EQ(WriteRegistryText(RegistryKey(L"")), "") << "an empty registry has no text";
}

// The file is only ever replaced whole, so a cut file is damage from outside: whatever the cut,
// it is recognised, and the tree given keeps what it had.
TEST(RegistryText, AFileCutAnywhereOrMalformedIsRejectedWithItsLine)
{
    const std::string text = WriteRegistryText(SampleTree());
    RegistryKey root(L"");
    AddSystemKeys(root);
    const std::string before = WriteRegistryText(root);
    for (size_t cut = 0; cut + 1 < text.size(); ++cut) {
        std::string error;
        ASSERT_FALSE(ReadRegistryText(text.substr(0, cut), root, error)) << "cut at " << cut;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos);
        ASSERT_EQ(WriteRegistryText(root), before);
    }
    std::string error;
    EXPECT_TRUE(ReadRegistryText(text.substr(0, text.size() - 1), root, error)) << "only the last line feed missing";

    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::string end = "\n; end of registry\n";
    const std::pair<std::string, std::string> broken[] = {
        {"REGEDIT4\n" + end, "line 1: not a registry file"},
        {header + "@=\"orphan\"" + end, "line 3: a value before the first key"},
        {header + "[HKEY_LOCAL_MACHINE\\Software]" + end, "line 3: a key outside HKEY_CLASSES_ROOT"},
        {header + "[-HKEY_CLASSES_ROOT\\CLSID]" + end, "line 3: key deletions"},
        {header + "[HKEY_CLASSES_ROOT\\A\\\\B]" + end, "line 3: a key name that is empty"},
        {header + "[HKEY_CLASSES_ROOT\\A" + end, "line 3: a key line without its closing bracket"},
        {header + "[HKEY_CLASSES_ROOT\\A]\n\"x\"=\"unterminated" + end, "line 4: a value whose data"},
        {header + "[HKEY_CLASSES_ROOT\\A]\n\"x\"=hex:0g" + end, "line 4: a value whose data"},
        {header + "[HKEY_CLASSES_ROOT\\A]\n\"x\"=dword:123456789" + end, "line 4: a value whose data"},
        {header + "[HKEY_CLASSES_ROOT\\A]\n\"x\"=-" + end, "line 4: value deletions"},
        {header + "[HKEY_CLASSES_ROOT\\A]\n\"x\"\"y\"" + end, "line 4: a value without '='"},
        {header + "[HKEY_CLASSES_ROOT\\A]" + end + "[HKEY_CLASSES_ROOT\\B]\n", "line 5: text after the end line"},
        {std::string("\0\x01\x02garbage", 10), "line 1: not a registry file"},
        {"", "the file is empty"},
    };
    for (const auto& [contents, expected] : broken) {
        ASSERT_FALSE(ReadRegistryText(contents, root, error)) << contents;
        EXPECT_EQ(error.rfind(expected, 0), 0u) << error << " for " << expected;
    }
}

class RegistryCalls : public ::testing::Test {
protected:
    SktsTest::TestRegistry registry_{"calls"};

    static std::wstring QueryString(HKEY key, LPCWSTR name)
    {
        std::wstring value;
        EXPECT_EQ(ReadRegistryString(key, name, value), ERROR_SUCCESS);
        return value;
    }
    static LSTATUS SetString(HKEY key, LPCWSTR name, const std::wstring& value)
    {
        return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
    }
};

TEST_F(RegistryCalls, KeysAndValuesBehaveAsOnWindows)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Test\\Deep\\Key", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(std::filesystem::exists(registry_.File()));
    EXPECT_EQ(SetString(key, nullptr, L"default"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, L"Name", L"value"), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, L""), L"default");
    EXPECT_EQ(QueryString(key, L"NAME"), L"value");

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6 * sizeof(WCHAR));
    BYTE small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6 * sizeof(WCHAR));
    EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key, L"Name"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, L"Name"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);

    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"TEST\\deep\\key", 0, nullptr, 0, KEY_WRITE, nullptr, &again,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(again);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Test\\Nothing", 0, KEY_READ, &again), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"\\Test", 0, KEY_READ, &again), ERROR_BADKEY);
    // The file holds one name per line: names with line breaks or other control characters
    // cannot be kept.
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Line\nbreak", 0, nullptr, 0, KEY_WRITE, nullptr, &again, nullptr),
              ERROR_BADKEY);
    EXPECT_EQ(SetString(HKEY_CLASSES_ROOT, L"Line\nbreak", L"x"), ERROR_INVALID_PARAMETER);

    // Subkeys enumerate in name order; a key with subkeys cannot go.
    HKEY test = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Test", 0, KEY_READ, &test), ERROR_SUCCESS);
    for (LPCWSTR name : {L"b", L"A", L"c"})
        ASSERT_EQ(RegCreateKeyExW(test, name, 0, nullptr, 0, KEY_WRITE, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[8];
        DWORD length = 8;
        const LSTATUS status = RegEnumKeyExW(test, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(length, std::wcslen(name));
        names.emplace_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"A", L"b", L"c", L"Deep"}));
    WCHAR tiny[2];
    DWORD tinyLength = 2;
    EXPECT_EQ(RegEnumKeyExW(test, 3, tiny, &tinyLength, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Test\\Deep"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(test, L"Deep\\Key"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(test, L"Deep\\Key"), ERROR_FILE_NOT_FOUND);

    // A handle outlives its key.
    HKEY doomed = nullptr;
    ASSERT_EQ(RegOpenKeyExW(test, L"A", 0, KEY_READ, &doomed), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(test, L"a"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(doomed, L"x", L"y"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCreateKeyExW(doomed, L"Below", 0, nullptr, 0, KEY_WRITE, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    RegCloseKey(doomed);
    RegCloseKey(test);

    for (LPCWSTR name : {L"Test\\b", L"Test\\c", L"Test\\Deep", L"Test"})
        EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, name), ERROR_SUCCESS) << name;
    EXPECT_FALSE(std::filesystem::exists(registry_.File())) << "an empty registry leaves no file";
}

TEST_F(RegistryCalls, TheSystemsKeysAlwaysExistAndStay)
{
    HKEY instances = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, FilterInstancesKey(CLSID_LegacyAmFilterCategory).c_str(), 0, KEY_READ,
                            &instances),
              ERROR_SUCCESS);
    RegCloseKey(instances);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, FilterInstancesKey(CLSID_LegacyAmFilterCategory).c_str()),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"CLSID"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L""), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(std::filesystem::exists(registry_.File())) << "reading and refusing write nothing";
}

// A file that cannot be understood fails every call with ERROR_BADDB, and is never written over:
// whatever it still holds stays for the user to repair.
TEST_F(RegistryCalls, ADamagedOrUnreadableFileFailsEveryCallAndIsKept)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Kept\\Entry", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, L"Name", L"a value long enough to cut in the middle"), ERROR_SUCCESS);
    const std::string full = SktsTest::Slurp(registry_.File());
    const std::string cut = full.substr(0, full.size() / 2);
    std::ofstream(registry_.File(), std::ios::binary | std::ios::trunc) << cut;

    EXPECT_EQ(SetString(key, L"Name", L"other"), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"New", 0, nullptr, 0, KEY_WRITE, nullptr, nullptr, nullptr), ERROR_BADDB);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Kept\\Entry"), ERROR_BADDB);
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Kept", 0, KEY_READ, &opened), ERROR_BADDB);
    EXPECT_EQ(SktsTest::Slurp(registry_.File()), cut);
    RegistryFile file(registry_.File());
    EXPECT_EQ(file.Read([](const RegistryKey&) -> LSTATUS { return ERROR_SUCCESS; }), ERROR_BADDB);
    EXPECT_NE(file.Message().find(registry_.File() + " is damaged: "), std::string::npos) << file.Message();

    std::filesystem::remove(registry_.File());
    std::filesystem::create_directory(registry_.File()); // something that is no file
    EXPECT_EQ(SetString(key, L"Name", L"other"), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Kept", 0, KEY_READ, &opened), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(file.Read([](const RegistryKey&) -> LSTATUS { return ERROR_SUCCESS; }), ERROR_REGISTRY_IO_FAILED);
    EXPECT_NE(file.Message().find("is not a file"), std::string::npos) << file.Message();
    EXPECT_TRUE(std::filesystem::is_directory(registry_.File()));
    RegCloseKey(key);
}

// Writers take turns: each update reads what the others wrote before it.
TEST_F(RegistryCalls, ConcurrentWritersKeepEveryEntry)
{
    constexpr int kThreads = 4;
    constexpr int kKeysEach = 15;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kKeysEach; ++i) {
                const std::wstring name = L"Writer" + std::to_wstring(t) + L"\\Key" + std::to_wstring(i);
                HKEY key = nullptr;
                ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                          nullptr),
                          ERROR_SUCCESS);
                ASSERT_EQ(SetString(key, L"Index", std::to_wstring(i)), ERROR_SUCCESS);
                RegCloseKey(key);
            }
        });
    }
    for (auto& writer : writers)
        writer.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kKeysEach; ++i) {
            HKEY key = nullptr;
            const std::wstring name = L"Writer" + std::to_wstring(t) + L"\\Key" + std::to_wstring(i);
            ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
            EXPECT_EQ(QueryString(key, L"Index"), std::to_wstring(i));
            RegCloseKey(key);
        }
    }
}

TEST(RegistryLocation, FollowsSktsRegistryThenTheUsersDataFolder)
{
    const char* saved[] = {std::getenv("SKTS_REGISTRY"), std::getenv("XDG_DATA_HOME"), std::getenv("HOME")};
    const std::string savedText[] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : "", saved[2] ? saved[2] : ""};
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_DATA_HOME", "/data", 1);
    ::setenv("SKTS_REGISTRY", "/explicit/registry", 1);
    EXPECT_EQ(RegistryFile::DefaultPath(), "/explicit/registry");
    ::unsetenv("SKTS_REGISTRY");
    EXPECT_EQ(RegistryFile::DefaultPath(), "/data/skts/registry");
    ::setenv("XDG_DATA_HOME", "relative", 1); // ignored: XDG folders are absolute paths
    EXPECT_EQ(RegistryFile::DefaultPath(), "/home/someone/.local/share/skts/registry");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(RegistryFile::DefaultPath(), "/home/someone/.local/share/skts/registry");
    const char* names[] = {"SKTS_REGISTRY", "XDG_DATA_HOME", "HOME"};
    for (int i = 0; i < 3; ++i) {
        if (saved[i] != nullptr)
            ::setenv(names[i], savedText[i].c_str(), 1);
        else
            ::unsetenv(names[i]);
    }
}

} // namespace
} // namespace BaseClassesTest
