#include "platform/Wipe.h"

void WipeBytes(void* data, std::size_t size) {
  volatile unsigned char* p = static_cast<unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

void WipeString(std::string& text) {
  text.resize(text.capacity());  // within the capacity: the buffer stays where it is
  WipeBytes(text.data(), text.size());
  text.clear();
}
