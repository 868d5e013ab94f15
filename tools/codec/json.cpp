#include "json.h"

#include <cstdio>

namespace codec_tool {
namespace {

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

JsonWriter& JsonWriter::Key(const char* key) {
  if (!m_bFirst) m_strText += ", ";
  m_bFirst = false;
  if (key != nullptr) m_strText += Quote(key) + ": ";
  return *this;
}

JsonWriter& JsonWriter::Begin(const char* key, char bracket) {
  if (!m_strText.empty()) Key(key);
  m_strText += bracket;
  m_bFirst = true;
  return *this;
}

JsonWriter& JsonWriter::End(char bracket) {
  m_strText += bracket;
  m_bFirst = false;
  return *this;
}

JsonWriter& JsonWriter::Field(const char* key, const std::string& value) {
  Key(key).m_strText += Quote(value);
  return *this;
}

JsonWriter& JsonWriter::Field(const char* key, long long value) {
  Key(key).m_strText += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Field(const char* key, bool value) {
  Key(key).m_strText += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null(const char* key) {
  Key(key).m_strText += "null";
  return *this;
}

}  // namespace codec_tool
