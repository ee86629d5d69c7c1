// Writing the host's document as a PNG file.
#pragma once

#include <string>

struct HostDocument;

// Writes the document (grey or RGB, 8 bits) with its resolution in pixels per inch, through a
// temporary file renamed into place: on failure nothing is left at path. False with a reason
// otherwise.
bool WriteDocumentPng(const HostDocument& document, const std::string& path, std::string* error);
