# Writes the About picture and the Help text as byte arrays into a C++ source file.
# Run as: cmake -DOUT=file.cpp -DJPEG=about.jpg -DHELP=help.txt -P EmbedResources.cmake
function(tallyra_bytes file var)
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Lines of 32 bytes keep the generated file readable.
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
  set(${var} "${bytes}" PARENT_SCOPE)
endfunction()

tallyra_bytes(${JPEG} jpegBytes)
tallyra_bytes(${HELP} helpBytes)
file(WRITE ${OUT}.tmp "// Generated from resources/app by EmbedResources.cmake; do not edit.
#include \"app/AppResources.h\"

const unsigned char AboutPictureJpeg[] = {
${jpegBytes}
};
const std::size_t AboutPictureJpegSize = sizeof AboutPictureJpeg;

const char HelpTextUtf8[] = {
${helpBytes}
0x00};
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
