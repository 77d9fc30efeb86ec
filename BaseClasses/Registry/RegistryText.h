#pragma once
// The registry file's text: the export format of the Windows registry editor (version 5.00),
// in UTF-8, closed by an end line so that a file cut short is recognised as such.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CLASSES_ROOT\CLSID\{...}]
//   @="Friendly name"
//   "Number"=dword:00200000
//   "Data"=hex:02,00,00,00,...
//
//   ; end of registry
//
// Strings escape backslash and double quote with a backslash; binary data may continue over
// lines ending in a backslash; other value types are written hex(N):...
#include "Registry/RegistryTree.h"

#include <string>
#include <string_view>

inline constexpr std::string_view kRegistryHeader = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kRegistryEndLine = "; end of registry";

// The text of the whole tree. Keys are written when they hold values, or when they are empty
// leaves other than the system keys; keys with subkeys only follow from their subkeys' paths.
// An empty string when there is nothing to write.
std::string WriteRegistryText(const RegistryKey& root);

// Replaces root's contents with the text's. False with a message naming the line when the text
// is not a complete registry file; root is then unchanged.
bool ReadRegistryText(std::string_view text, RegistryKey& root, std::string& error);
