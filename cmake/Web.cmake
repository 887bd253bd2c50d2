# The browser build (scripts/build-web.sh, configured with emcmake): the
# player's front end over the web platform layer, one program that the page
# (web/index.html) starts. pugixml and libdeflate come from DEMO_WEB_PREFIX,
# glm and stb are header copies there; no emscripten port is used (each
# would be downloaded).
#
# Single-threaded: a threaded build runs only where the server sends the
# cross-origin isolation headers, and the player needs no thread here (the
# content comes from data.pack, read once; the music plays in the browser).
# DEMO_WEB tells the code to start no thread.
if(NOT DEMO_WEB_PREFIX)
  set(DEMO_WEB_PREFIX "$ENV{DEMO_WEB_PREFIX}")
endif()
if(NOT DEMO_WEB_PREFIX)
  message(FATAL_ERROR "DEMO_WEB_PREFIX is not set: configure through scripts/build-web.sh")
endif()

# The renderer draws through OpenGL ES 3.0, WebGL 2's API (platform/Gl.h).
add_compile_definitions(DEMO_WEB DEMO_GLES)
configure_file(cmake/Version.h.in ${CMAKE_BINARY_DIR}/generated/platform/Version.h @ONLY)

add_library(demo_web_pugixml STATIC IMPORTED)
set_target_properties(demo_web_pugixml PROPERTIES IMPORTED_LOCATION ${DEMO_WEB_PREFIX}/lib/libpugixml.a)
add_library(demo_web_deflate STATIC IMPORTED)
set_target_properties(demo_web_deflate PROPERTIES IMPORTED_LOCATION ${DEMO_WEB_PREFIX}/lib/libdeflate.a)

add_library(demo_deps INTERFACE)
target_include_directories(demo_deps INTERFACE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
# After the project's own folders, so that nothing of the host's is seen.
target_include_directories(demo_deps SYSTEM INTERFACE ${DEMO_WEB_PREFIX}/include ${DEMO_WEB_PREFIX}/include/stb)
target_compile_definitions(demo_deps INTERFACE GLM_FORCE_CTOR_INIT)
target_link_libraries(demo_deps INTERFACE demo_web_pugixml demo_web_deflate)

# The layers the player needs, one static library each as on the desktop. The desktop's window and music (SDL, mpg123) give way to their
# web versions; the pack writer (zlib) is the tools' only.
set(DEMO_WEB_LAYERS platform resources scene particles playback render)
set(below demo_deps)
foreach(layer IN LISTS DEMO_WEB_LAYERS)
  file(GLOB layer_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${layer}/*.cpp)
  list(REMOVE_ITEM layer_sources
    ${CMAKE_SOURCE_DIR}/platform/Window.cpp ${CMAKE_SOURCE_DIR}/platform/Music.cpp
    ${CMAKE_SOURCE_DIR}/resources/PackWriter.cpp)
  add_library(demo_${layer} STATIC ${layer_sources})
  target_link_libraries(demo_${layer} PUBLIC ${below})
  set(below demo_${layer})
endforeach()

# The page loads demoplayer.js, which loads demoplayer.wasm; the page starts
# main itself once data.pack is in the in-memory file system.
add_executable(demoplayer app/WebMain.cpp)
target_link_libraries(demoplayer PRIVATE demo_render)
target_link_options(demoplayer PRIVATE
  -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=64MB
  -sINVOKE_RUN=0 -sEXIT_RUNTIME=0
  "-sEXPORTED_RUNTIME_METHODS=['callMain','FS']"
  -sENVIRONMENT=web
  -sDISABLE_EXCEPTION_CATCHING=1)

# The OBJ loader's numbers, run under node and compared with the desktop's
# (tests/CMakeLists.txt, web_obj_numbers).
add_executable(obj_numbers EXCLUDE_FROM_ALL tests/web/ObjNumbers.cpp)
target_link_libraries(obj_numbers PRIVATE demo_resources)
target_link_options(obj_numbers PRIVATE -sENVIRONMENT=node -sALLOW_MEMORY_GROWTH=1)
