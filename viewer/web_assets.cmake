# The viewer's web page, built into vexa_viewer: web_files.cpp is generated from the files of
# viewer/web/ by embed_web.cmake and regenerated whenever one of them changes.
set(VEXA_WEB_FILES index.html viewer.css viewer.js)
list(TRANSFORM VEXA_WEB_FILES PREPEND ${CMAKE_CURRENT_LIST_DIR}/web/ OUTPUT_VARIABLE VEXA_WEB_PATHS)
string(REPLACE ";" "," VEXA_WEB_NAMES "${VEXA_WEB_FILES}")
add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp
    COMMAND ${CMAKE_COMMAND} -DWEB_DIR=${CMAKE_CURRENT_LIST_DIR}/web -DWEB_FILES=${VEXA_WEB_NAMES}
            -DOUTPUT=${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp -P ${CMAKE_CURRENT_LIST_DIR}/embed_web.cmake
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/embed_web.cmake ${VEXA_WEB_PATHS}
    COMMENT "Building the viewer's web page into the program"
    VERBATIM)
target_sources(vexa_viewer PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/web_assets.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp)
