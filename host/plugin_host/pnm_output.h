// Writing the host's document as a binary PGM (grey) or PPM (RGB) file.
#pragma once

#include <string>

struct HostDocument;

// Writes the document with its resolution in a comment line ("# 72 pixels/inch"), through a
// temporary file renamed into place: on failure nothing is left at path. False with a reason
// otherwise.
bool WriteDocumentPnm(const HostDocument& document, const std::string& path, std::string* error);
