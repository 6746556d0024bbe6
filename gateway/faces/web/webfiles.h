// The page's files, built into the program from gateway/faces/web/page/ (generated at build time).
#pragma once

#include <cstddef>
#include <vector>

struct WebFile {
    const char *path; // relative to gateway/faces/web/page/, with '/' between folders
    const unsigned char *data;
    std::size_t size;
};

const std::vector<WebFile> &webFiles();
