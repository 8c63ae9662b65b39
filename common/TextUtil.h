#pragma once
// Text helpers shared by both programs. Narrow text is UTF-8 throughout;
// wide text is UTF-32 on this platform.

#include <cstdint>
#include <string>
#include <vector>

constexpr unsigned kCodePageUtf8 = 65001;

std::wstring str2wstr(const std::string& text, unsigned codePage = kCodePageUtf8);
std::wstring str2wstr(const char* text, unsigned codePage = kCodePageUtf8);
std::string wstr2str(const std::wstring& text, unsigned codePage = kCodePageUtf8);
std::string wstr2str(const wchar_t* text, unsigned codePage = kCodePageUtf8);

// Splits at each separator; empty pieces (between two separators, or after
// a trailing one) are left out, so "g1,g2," gives {"g1", "g2"}.
std::vector<std::string>& strSplit(const std::string& text, char sep,
                                   std::vector<std::string>& out);
std::vector<std::string>& strSplit(const std::string& text, const std::string& sep,
                                   std::vector<std::string>& out);

// Replaces every occurrence of from in text, in place; returns a copy.
std::string strReplace(std::string& text, const std::string& from, const std::string& to);
std::wstring strReplace(std::wstring& text, const std::wstring& from, const std::wstring& to);

std::wstring int2string(int64_t value);
std::string int2stringA(int64_t value);

// Dotted decimal of an IPv4 address as stored in a socket address
// (network byte order): the first stored byte comes first.
std::string ip2string(uint32_t storedAddress);

// The last component of path ('/' or '\\' separated) with its extension
// replaced by newExt; an empty newExt drops the extension, so
// getFileName("src/SonavelConfigDlg.cpp", "") gives "SonavelConfigDlg".
std::string getFileName(const std::string& path, const std::string& newExt);
