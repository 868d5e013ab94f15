// A small writer of JSON objects for the --json reports.
#pragma once

#include <string>

namespace codec_tool {

class JsonWriter {
 public:
  // An object, inside an object under `key`.
  JsonWriter& Open(const char* key = nullptr) { return Begin(key, '{'); }
  JsonWriter& Close() { return End('}'); }
  JsonWriter& OpenArray(const char* key) { return Begin(key, '['); }  // elements: Open()
  JsonWriter& CloseArray() { return End(']'); }
  JsonWriter& Field(const char* key, const std::string& value);
  JsonWriter& Field(const char* key, const char* value) { return Field(key, std::string(value)); }
  JsonWriter& Field(const char* key, long long value);
  JsonWriter& Field(const char* key, long value) { return Field(key, (long long)value); }
  JsonWriter& Field(const char* key, int value) { return Field(key, (long long)value); }
  JsonWriter& Field(const char* key, bool value);
  JsonWriter& Null(const char* key);
  const std::string& Text() const { return m_strText; }

 private:
  JsonWriter& Key(const char* key);
  JsonWriter& Begin(const char* key, char bracket);
  JsonWriter& End(char bracket);
  std::string m_strText;
  bool m_bFirst = true;
};

}  // namespace codec_tool
