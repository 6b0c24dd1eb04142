# Cross build of the 64-bit Windows program with clang instead of gcc: the same
# mingw-w64 headers, C++ library and binutils, a second compiler's view of the sources.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

set(orvanta_mingw_target x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${orvanta_mingw_target})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${orvanta_mingw_target})

# clang does not find the cross gcc's libstdc++ where Debian keeps it (a version folder
# named like 12-win32), so it is named here: the folder of the gcc cross compiler's
# runtime holds the C++ headers, libstdc++, libgcc and the start-up objects.
execute_process(
  COMMAND ${orvanta_mingw_target}-g++ -print-libgcc-file-name
  OUTPUT_VARIABLE orvanta_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
cmake_path(GET orvanta_libgcc PARENT_PATH orvanta_gcc_dir)
set(orvanta_cxx_headers ${orvanta_gcc_dir}/include/c++)

set(CMAKE_SYSROOT ${CMAKE_FIND_ROOT_PATH})
set(CMAKE_CXX_FLAGS_INIT "-isystem ${orvanta_cxx_headers} \
-isystem ${orvanta_cxx_headers}/${orvanta_mingw_target} -isystem ${orvanta_cxx_headers}/backward")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${orvanta_gcc_dir} -L${orvanta_gcc_dir}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-B${orvanta_gcc_dir} -L${orvanta_gcc_dir}")
