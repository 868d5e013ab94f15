// A small writer of JSON objects for the --json reports.
#pragma once

#include <string>

namespace codec_tool {

class JsonWriter {
 public:
  JsonWriter& Open(const char* key = nullptr);  // an object, inside an object under `key`
  JsonWriter& Close();
  JsonWriter& OpenArray(const char* key);  // elements are opened with Open()
  JsonWriter& CloseArray();
  JsonWriter& Field(const char* key, const std::string& value);
  JsonWriter& Field(const char* key, const char* value) { return Field(key, std::string(value)); }
  JsonWriter& Field(const char* key, long long value);
  JsonWriter& Field(const char* key, long value) { return Field(key, (long long)value); }
  JsonWriter& Field(const char* key, int value) { return Field(key, (long long)value); }
  JsonWriter& Field(const char* key, bool value);
  JsonWriter& Field(const char* key, double value);
  JsonWriter& Null(const char* key);
  const std::string& Text() const { return m_strText; }

 private:
  JsonWriter& Key(const char* key);
  std::string m_strText;
  bool m_bFirst = true;
};

}  // namespace codec_tool
