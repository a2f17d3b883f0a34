# The Windows COM server qzCardReader.dll: the portable core, the Win32 platform layer
# (*_win.cpp) and the COM classes, with the type library built by widl and embedded as
# resource TYPELIB 1. Linked fully static so the DLL needs nothing beside system libraries.
enable_language(RC)

if(NOT QZ_WIDL)
  find_program(QZ_WIDL NAMES widl REQUIRED)
endif()
set(QZ_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "Directory of oaidl.idl")
set(QZ_WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Directory of stdole2.tlb")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QZ_WIDL_ARCH --win64)
else()
  set(QZ_WIDL_ARCH --win32)
endif()

# Everything built for Windows here: wide-character Win32 API at the Windows 7 level, the
# project's warnings, and linked static so that no MinGW runtime DLL has to travel along.
function(qz_win_target target)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601 WINVER=0x0601)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QZ_WARNINGS}>)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY" AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The exports carry no stdcall decoration (_DllCanUnloadNow@0), as COM looks them up by name.
    target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
  endif()
endfunction()

# widl: a type library (to embed as resource TYPELIB 1), its header and its GUIDs.
function(qz_widl idl out_dir name)
  add_custom_command(
    OUTPUT ${out_dir}/${name}.tlb ${out_dir}/${name}.h ${out_dir}/${name}_i.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND ${QZ_WIDL} ${QZ_WIDL_ARCH} -I ${QZ_WINE_IDL_DIR} -L ${QZ_WINE_TLB_DIR}
            -t -T ${out_dir}/${name}.tlb -h -H ${out_dir}/${name}.h -u -U ${out_dir}/${name}_i.c
            ${idl}
    DEPENDS ${idl}
    COMMENT "widl: type library ${name}"
    VERBATIM)
endfunction()

set(QZ_COM_DIR ${PROJECT_SOURCE_DIR}/src/app/com)
set(QZ_GEN_DIR ${CMAKE_CURRENT_BINARY_DIR}/com)
qz_widl(${QZ_COM_DIR}/qzCardReader.idl ${QZ_GEN_DIR} qzCardReader)
add_custom_target(qz_typelib DEPENDS ${QZ_GEN_DIR}/qzCardReader.tlb ${QZ_GEN_DIR}/qzCardReader.h)

file(GLOB QZ_COM_SOURCES CONFIGURE_DEPENDS ${QZ_COM_DIR}/*.cpp)
set(QZ_COM_RC ${QZ_COM_DIR}/qzCardReader.rc)
set_source_files_properties(${QZ_COM_RC} PROPERTIES
  OBJECT_DEPENDS "${QZ_GEN_DIR}/qzCardReader.tlb;${QZ_COM_DIR}/card.ico;${PROJECT_SOURCE_DIR}/src/ui/resource_win.h")
set(QZ_WIN_LIBS ole32 oleaut32 uuid user32 gdi32 advapi32)

add_library(qzCardReader SHARED
  ${QZ_WIN_SOURCES} ${QZ_COM_SOURCES} ${QZ_GEN_DIR}/qzCardReader_i.c ${QZ_COM_RC}
  ${QZ_COM_DIR}/qzCardReader.def)
add_dependencies(qzCardReader qz_typelib)
set_target_properties(qzCardReader PROPERTIES PREFIX "" OUTPUT_NAME qzCardReader)
target_include_directories(qzCardReader PRIVATE ${PROJECT_SOURCE_DIR}/src ${QZ_GEN_DIR} ${QZ_COM_DIR})
target_link_libraries(qzCardReader PRIVATE qzcore ${QZ_WIN_LIBS})
qz_win_target(qzCardReader)

# The simulated keyboard reader for hosts that try their keyboard path without one.
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/kbdsim ${CMAKE_BINARY_DIR}/kbdsim)

# The Windows tests run under Wine against this build and the i686 one.
if(QZ_BUILD_TESTS)
  enable_testing()
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/wine ${CMAKE_BINARY_DIR}/tests/wine)
endif()
