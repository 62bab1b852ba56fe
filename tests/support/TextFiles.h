#pragma once

#include <string>

// Whole files as strings, for tests that look at what the node wrote or give it a file.
// Empty when the file cannot be read.
std::string readText(const std::string& path);
// Replaces the file's contents with text (the folder must exist).
void writeText(const std::string& path, const std::string& text);
