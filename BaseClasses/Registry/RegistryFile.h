#pragma once
// The file that holds the registry here: SKTS_REGISTRY when set, else
// $XDG_DATA_HOME/skts/registry, else ~/.local/share/skts/registry. Readers take the file as it
// is (it is only ever replaced whole); writers hold an exclusive lock on "<file>.lock" from
// reading to writing, so that concurrent registrations each see the other's entries. A file
// that cannot be read or understood is never written over.
#include "Registry/RegistryTree.h"

#include <functional>
#include <string>

class RegistryFile {
public:
    static std::string DefaultPath();

    explicit RegistryFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }

    // Hands the registry to reader. ERROR_BADDB when the file is not a complete registry file,
    // ERROR_REGISTRY_IO_FAILED when it cannot be read; Message() then says why.
    LSTATUS Read(const std::function<LSTATUS(const RegistryKey& root)>& reader);
    // Hands the registry to change under the lock and writes it back when change succeeded and
    // set changed; an empty registry leaves no file. Failures as Read, and
    // ERROR_REGISTRY_IO_FAILED when the file cannot be written.
    LSTATUS Update(const std::function<LSTATUS(RegistryKey& root, bool& changed)>& change);

    // Why the last call failed, in one line naming the file.
    const std::string& Message() const { return message_; }

private:
    LSTATUS Load(RegistryKey& root);
    LSTATUS Fail(LSTATUS status, const std::string& why);

    std::string path_;
    std::string message_;
};
