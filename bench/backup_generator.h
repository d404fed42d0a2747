#pragma once
// Valid backups of realistic intentions, of a chosen number of entries and size, for the import
// benchmark.

#include <cstddef>
#include <string>

namespace generator {

// A JSON backup of the given number of entries, as close to the size as the entries allow and
// never above it. The same arguments always give the same text.
std::string backup(std::size_t entries, std::size_t bytes);

// The document inside a page of the shape the widget exports.
std::string page(const std::string& document);

// How many bytes page() adds around a document.
std::size_t pageOverhead();

} // namespace generator
