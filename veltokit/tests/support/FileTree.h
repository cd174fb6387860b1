#pragma once

#include <map>
#include <string>

#include "velto/Bytes.h"

namespace velto::test {

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
// Every entry under root by relative path: a file's content, or "/" for a folder.
std::map<std::string, std::string> treeOf(const std::string& root);

// A stream as a sender writes it: header, then elements, with the helpers below.
Bytes streamHeader(std::uint64_t count, std::uint64_t total);
Bytes element(const std::string& name, std::uint64_t size, const std::string& body = {});
Bytes folderElement(const std::string& name);
Bytes operator+(Bytes left, const Bytes& right);

}  // namespace velto::test
