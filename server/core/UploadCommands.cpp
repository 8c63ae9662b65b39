// File upload: start, data, end and terminate, one upload per connection id.
// The check at the end reads the stored file, so it runs on the check worker
// with the recording of the file, and its reply is posted back to the network
// thread.
#include <boost/asio/post.hpp>

#include "common/Logger.h"
#include "common/Platform.h"
#include "server/core/Request.h"
#include "server/core/SonavelServer.h"
#include "server/core/UploadKey.h"

bool SonavelServer::findUploadedFile(const std::string& key) {
    QueryResult result;
    if (!querySql("select * from files where originalMd5=?", result, {key}) ||
        result.rowCount() == 0) {
        return false;
    }
    const auto row = result.row(0);
    return row.size() > 2 && getFileType(row[2]) == 0;
}

void SonavelServer::replyUpload(const std::string& connId, int code) {
    Json::Value msg;
    msg["code"] = code;
    sendToOne(connId, "upload-file-response", msg, nullptr, 0, kServerId);
}

void SonavelServer::onUploadFileStart(const Request& req) {
    const std::string clientName = req.text("fileName");
    std::string key;
    if (req.has("md5_front") && req.has("md5_back") && req.has("size")) {
        key = frontBackKey(req.text("md5_front"), req.text("md5_back"), req.int64("size"));
    } else {
        key = req.text("md5");
    }
    if (findUploadedFile(key)) {
        replyUpload(req.connId, 1);
        return;
    }
    std::string fileName;
    if (!uploadFileName(clientName, fileName)) {
        gLogger().logout("upload refused, bad file name: %s, %s", clientName.c_str(),
                         req.connId.c_str());
        replyUpload(req.connId, 2);
        return;
    }
    auto upload = std::make_shared<FileContext>(key, req.connId, filesDir_ + "/" + fileName);
    if (!upload->open()) {
        gLogger().logout("upload file open failed: %s", upload->filePath.c_str());
    }
    // Replacing an open upload closes it; its partial file stays.
    uploads_[req.connId] = upload;
    replyUpload(req.connId, 0);
}

void SonavelServer::onUploadFileData(const Request& req) {
    auto it = uploads_.find(req.connId);
    if (it == uploads_.end()) {
        replyUpload(req.connId, 2);
        return;
    }
    if (!it->second->write(req.binary, req.length > 0 ? static_cast<size_t>(req.length) : 0)) {
        // A lost chunk can never pass the check; end the upload now and say so.
        gLogger().logout("upload write failed: %s", it->second->filePath.c_str());
        uploads_.erase(it);
        replyUpload(req.connId, 2);
        return;
    }
    replyUpload(req.connId, 0);
}

void SonavelServer::onUploadFileTerminate(const Request& req) {
    uploads_.erase(req.connId);
}

void SonavelServer::onUploadFileEnd(const Request& req) {
    auto it = uploads_.find(req.connId);
    if (it == uploads_.end()) {
        replyUpload(req.connId, 2);
        return;
    }
    auto upload = it->second;
    uploads_.erase(it);
    upload->close();
    held_.hold(req.conn);
    auto conn = req.conn;
    checker_.post([this, upload, conn] {
        bool passed = upload->verify();
        // Recorded here too, so that no write of the database file stalls the loop.
        if (passed) {
            execSql("insert into files(fileMd5, originalMd5, filePath) values(?, ?, ?)",
                    {upload->fileKey, upload->fileKey, upload->filePath});
        }
        boost::asio::post(ioContext(), [this, upload, conn, passed] {
            replyUpload(upload->connId, passed ? 0 : 2);
            replayHeld(conn);
        });
    });
}

void SonavelServer::replayHeld(const std::shared_ptr<TcpClient>& conn) {
    // A replayed upload-file-end holds the connection again; onCmd then
    // queues the rest behind it.
    for (auto& item : held_.release(conn)) {
        onCmd(item.conn, item.conn->id, item.cmd, item.msg, item.binary.data(),
              static_cast<int32_t>(item.binary.size()));
    }
}
