# The Windows COM server qzCardReader.dll: the portable core, the Win32 platform layer
# (*_win.cpp) and the COM classes, with the type library built by widl and embedded as
# resource TYPELIB 1. Linked fully static so the DLL needs nothing beside system libraries.
enable_language(RC)

if(NOT QZ_WIDL)
  find_program(QZ_WIDL NAMES widl REQUIRED)
endif()
set(QZ_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "Directory of oaidl.idl")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QZ_WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Directory of stdole2.tlb")
  set(QZ_WIDL_ARCH --win64)
else()
  set(QZ_WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Directory of stdole2.tlb")
  set(QZ_WIDL_ARCH --win32)
endif()

set(QZ_COM_DIR ${PROJECT_SOURCE_DIR}/src/app/com)
set(QZ_GEN_DIR ${CMAKE_CURRENT_BINARY_DIR}/com)
file(MAKE_DIRECTORY ${QZ_GEN_DIR})

add_custom_command(
  OUTPUT ${QZ_GEN_DIR}/qzCardReader.tlb ${QZ_GEN_DIR}/qzCardReader.h ${QZ_GEN_DIR}/qzCardReader_i.c
  COMMAND ${QZ_WIDL} ${QZ_WIDL_ARCH} -I ${QZ_WINE_IDL_DIR} -L ${QZ_WINE_TLB_DIR}
          -t -T ${QZ_GEN_DIR}/qzCardReader.tlb
          -h -H ${QZ_GEN_DIR}/qzCardReader.h
          -u -U ${QZ_GEN_DIR}/qzCardReader_i.c
          ${QZ_COM_DIR}/qzCardReader.idl
  DEPENDS ${QZ_COM_DIR}/qzCardReader.idl
  COMMENT "widl: type library qzCardReader"
  VERBATIM)
add_custom_target(qz_typelib DEPENDS ${QZ_GEN_DIR}/qzCardReader.tlb ${QZ_GEN_DIR}/qzCardReader.h)

file(GLOB QZ_COM_SOURCES CONFIGURE_DEPENDS ${QZ_COM_DIR}/*.cpp)
set(QZ_COM_RC ${QZ_COM_DIR}/qzCardReader.rc)
set_source_files_properties(${QZ_COM_RC} PROPERTIES
  OBJECT_DEPENDS "${QZ_GEN_DIR}/qzCardReader.tlb;${QZ_COM_DIR}/card.ico;${PROJECT_SOURCE_DIR}/src/ui/resource_win.h")

add_library(qzCardReader SHARED
  ${QZ_WIN_SOURCES} ${QZ_COM_SOURCES} ${QZ_GEN_DIR}/qzCardReader_i.c ${QZ_COM_RC}
  ${QZ_COM_DIR}/qzCardReader.def)
add_dependencies(qzCardReader qz_typelib)
set_target_properties(qzCardReader PROPERTIES PREFIX "" OUTPUT_NAME qzCardReader)
target_include_directories(qzCardReader PRIVATE ${PROJECT_SOURCE_DIR}/src ${QZ_GEN_DIR} ${QZ_COM_DIR})
target_compile_definitions(qzCardReader PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
  _WIN32_WINNT=0x0601 WINVER=0x0601)
target_compile_options(qzCardReader PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QZ_WARNINGS}>)
target_link_libraries(qzCardReader PRIVATE qzcore ole32 oleaut32 uuid user32 gdi32 advapi32)
# -static: no libwinpthread-1.dll, libstdc++-6.dll or libgcc_s beside the DLL.
target_link_options(qzCardReader PRIVATE -static -static-libgcc -static-libstdc++)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The exports carry no stdcall decoration (_DllCanUnloadNow@0), as COM looks them up by name.
  target_link_options(qzCardReader PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
endif()

# The stand-in keyboard library KbdBridge.dll and its client test, which the Wine tests use.
# Built for i686 too, so that 32-bit code in it keeps compiling, though only x64 runs here.
if(QZ_BUILD_TESTS)
  include(${PROJECT_SOURCE_DIR}/tests/kbdbridge/windows.cmake OPTIONAL)
endif()

# Tests of the Windows platform layer, a plain program run under Wine by scripts/test-windows.sh.
if(QZ_BUILD_TESTS AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  file(GLOB QZ_WIN_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/wine/*.cpp)
  add_executable(qz_win_tests ${QZ_WIN_TEST_SOURCES} ${QZ_WIN_SOURCES}
    ${QZ_COM_DIR}/error_info_win.cpp
    ${QZ_COM_RC})
  add_dependencies(qz_win_tests qz_typelib)
  target_include_directories(qz_win_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${QZ_GEN_DIR}
    ${QZ_COM_DIR} ${PROJECT_SOURCE_DIR}/tests/wine)
  target_compile_definitions(qz_win_tests PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601 WINVER=0x0601)
  target_compile_options(qz_win_tests PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QZ_WARNINGS}>)
  target_link_libraries(qz_win_tests PRIVATE qzcore ole32 oleaut32 uuid user32 gdi32 advapi32)
  target_link_options(qz_win_tests PRIVATE -static -static-libgcc -static-libstdc++)
endif()

# Helpers of the Wine tests: a host that follows a per-user registration by hand (Wine's COM
# ignores HKCU classes), and a program that reports the script host's handle count.
if(QZ_BUILD_TESTS AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  foreach(helper registered_host handle_count)
    add_executable(qz_${helper} ${PROJECT_SOURCE_DIR}/tests/wine/${helper}/${helper}_win.cpp)
    target_compile_definitions(qz_${helper} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
      NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
    target_compile_options(qz_${helper} PRIVATE ${QZ_WARNINGS})
    target_link_libraries(qz_${helper} PRIVATE ole32 oleaut32 uuid advapi32 ntdll)
    target_link_options(qz_${helper} PRIVATE -static -static-libgcc -static-libstdc++)
  endforeach()
endif()
