#pragma once
// One upload in progress. Written on the network thread; after the upload is
// closed, verify runs on the server's check worker.

#include <cstdint>
#include <cstdio>
#include <string>

class FileContext {
public:
    FileContext(std::string fileKey, std::string connId, std::string filePath);
    // Closes the file if still open; never deletes it.
    ~FileContext();
    FileContext(const FileContext&) = delete;
    FileContext& operator=(const FileContext&) = delete;

    // Creates or truncates filePath for writing.
    bool open();
    // Appends all bytes; false when the file is not open or the write fails.
    bool write(const uint8_t* bytes, size_t length);
    void close();
    // Whether the written file holds the content fileKey names.
    bool verify() const;

    const std::string fileKey;
    const std::string connId;
    const std::string filePath;

private:
    FILE* file_ = nullptr;
};
