// The page's files, built into the program from gateway/web/ (generated at build time).
#pragma once

#include <cstddef>
#include <vector>

struct WebFile {
    const char *path; // relative to gateway/web/, with '/' between folders
    const unsigned char *data;
    std::size_t size;
};

const std::vector<WebFile> &webFiles();
