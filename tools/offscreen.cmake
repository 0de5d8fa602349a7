# Offscreen rendering (EGL surfaceless + a framebuffer object) and PNG output,
# for the pixel tests and the headless drivers' pictures; no shipped program
# links it. Included from tools/ and tests/: the imported targets are found in
# each including folder, the library is defined by whichever comes first.
find_package(OpenGL REQUIRED COMPONENTS EGL)
find_package(PNG REQUIRED)
if(NOT TARGET pondsim_offscreen)
  add_library(pondsim_offscreen STATIC ${PROJECT_SOURCE_DIR}/tools/offscreen.cpp)
  target_include_directories(pondsim_offscreen PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(pondsim_offscreen PRIVATE ${PONDSIM_FP_FLAGS} ${PONDSIM_WARNINGS})
  target_link_libraries(pondsim_offscreen PUBLIC GLEW::GLEW OpenGL::GL OpenGL::EGL PRIVATE PNG::PNG)
endif()
