# Offscreen rendering (a context of its own + a framebuffer object) and PNG
# output, for the pixel tests and the headless drivers' pictures; no shipped
# program links it. Included from tools/ and tests/: the imported targets are
# found in each including folder, the library is defined by whichever comes
# first.
if(WIN32)
  if(NOT TARGET pondsim_offscreen)
    add_library(pondsim_offscreen STATIC
      ${PROJECT_SOURCE_DIR}/tools/offscreen.cpp
      ${PROJECT_SOURCE_DIR}/tools/offscreen_wgl.cpp
      ${PROJECT_SOURCE_DIR}/tools/png_stored.cpp)
    target_include_directories(pondsim_offscreen PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(pondsim_offscreen PRIVATE ${PONDSIM_FP_FLAGS} ${PONDSIM_WARNINGS})
    target_link_libraries(pondsim_offscreen PUBLIC GLEW::GLEW OpenGL::GL gdi32 user32)
  endif()
  return()
endif()
find_package(OpenGL REQUIRED COMPONENTS EGL)
find_package(PNG REQUIRED)
if(NOT TARGET pondsim_offscreen)
  add_library(pondsim_offscreen STATIC
    ${PROJECT_SOURCE_DIR}/tools/offscreen.cpp
    ${PROJECT_SOURCE_DIR}/tools/offscreen_egl.cpp
    ${PROJECT_SOURCE_DIR}/tools/png.cpp)
  target_include_directories(pondsim_offscreen PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(pondsim_offscreen PRIVATE ${PONDSIM_FP_FLAGS} ${PONDSIM_WARNINGS})
  target_link_libraries(pondsim_offscreen PUBLIC GLEW::GLEW OpenGL::GL OpenGL::EGL PRIVATE PNG::PNG)
endif()
