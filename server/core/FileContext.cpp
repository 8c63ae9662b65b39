#include "server/core/FileContext.h"

#include "server/core/UploadKey.h"

FileContext::FileContext(std::string fileKey, std::string connId, std::string filePath)
    : fileKey(std::move(fileKey)), connId(std::move(connId)), filePath(std::move(filePath)) {}

FileContext::~FileContext() {
    close();
}

bool FileContext::open() {
    close();
    file_ = std::fopen(filePath.c_str(), "wb+");
    return file_ != nullptr;
}

bool FileContext::write(const uint8_t* bytes, size_t length) {
    if (!file_) {
        return false;
    }
    if (length == 0) {
        return true;
    }
    // Flushed at once so that a full disk is noticed on this chunk, not at close.
    return std::fwrite(bytes, 1, length, file_) == length && std::fflush(file_) == 0;
}

void FileContext::close() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool FileContext::verify() const {
    return verifyUploadKey(fileKey, filePath);
}
