#include "platform/Wipe.h"

void WipeString(std::string& text) {
  text.resize(text.capacity());  // within the capacity: the buffer stays where it is
  volatile char* p = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}
