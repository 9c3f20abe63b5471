# The About picture and the Help text, compiled into tallyra_app as byte arrays.
set(TALLYRA_APP_RESOURCES ${CMAKE_CURRENT_LIST_DIR})
set(TALLYRA_APP_RESOURCES_CPP ${CMAKE_BINARY_DIR}/generated/AppResources.cpp)
add_custom_command(
  OUTPUT ${TALLYRA_APP_RESOURCES_CPP}
  COMMAND ${CMAKE_COMMAND} -DOUT=${TALLYRA_APP_RESOURCES_CPP}
          -DJPEG=${TALLYRA_APP_RESOURCES}/about.jpg -DHELP=${TALLYRA_APP_RESOURCES}/help.txt
          -P ${TALLYRA_APP_RESOURCES}/EmbedResources.cmake
  DEPENDS ${TALLYRA_APP_RESOURCES}/about.jpg ${TALLYRA_APP_RESOURCES}/help.txt
          ${TALLYRA_APP_RESOURCES}/EmbedResources.cmake
  COMMENT "Embedding the About picture and the Help text")
target_sources(tallyra_app PRIVATE ${TALLYRA_APP_RESOURCES_CPP})
target_link_libraries(tallyra_app PRIVATE JPEG::JPEG)
