# The stand-in keyboard library KbdBridge.dll (COM class "KbdBridge.qzCherry") and the test
# program of the Windows keyboard reader, cross-built for Wine. Include from the Windows build;
# run_wine_tests.sh runs them. Outputs go to ${CMAKE_BINARY_DIR}/kbdbridge.
include_guard(GLOBAL)
set(QZ_KBD_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QZ_KBD_SRC ${CMAKE_CURRENT_LIST_DIR}/../../src)
set(QZ_KBD_OUT ${CMAKE_BINARY_DIR}/kbdbridge)
if(NOT DEFINED QZ_WARNINGS)
  set(QZ_WARNINGS -Wall -Wextra -Werror)
endif()
if(NOT DEFINED QZ_WIDL)
  set(QZ_WIDL widl)
endif()
enable_language(RC)

add_custom_command(
  OUTPUT ${QZ_KBD_OUT}/kbdbridge.h ${QZ_KBD_OUT}/kbdbridge_i.c ${QZ_KBD_OUT}/kbdbridge.tlb
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QZ_KBD_OUT}
  COMMAND ${QZ_WIDL} -I /usr/include/wine/wine/windows -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
          -t -T ${QZ_KBD_OUT}/kbdbridge.tlb -h -H ${QZ_KBD_OUT}/kbdbridge.h
          -u -U ${QZ_KBD_OUT}/kbdbridge_i.c ${QZ_KBD_DIR}/kbdbridge.idl
  DEPENDS ${QZ_KBD_DIR}/kbdbridge.idl
  COMMENT "widl kbdbridge.idl")
file(WRITE ${QZ_KBD_OUT}/kbdbridge.rc "1 TYPELIB \"${QZ_KBD_OUT}/kbdbridge.tlb\"\n")
set_source_files_properties(${QZ_KBD_OUT}/kbdbridge.rc PROPERTIES
  OBJECT_DEPENDS ${QZ_KBD_OUT}/kbdbridge.tlb)

# Both are compiled as qzCardReader.dll is, and share its text conversions and error mapping.
add_library(kbdbridge_com SHARED ${QZ_KBD_DIR}/kbdbridge_win.cpp
  ${QZ_KBD_SRC}/app/com/error_info_win.cpp ${QZ_KBD_SRC}/base/text_win.cpp
  ${QZ_KBD_OUT}/kbdbridge_i.c ${QZ_KBD_OUT}/kbdbridge.rc ${QZ_KBD_DIR}/kbdbridge.def)
set_target_properties(kbdbridge_com PROPERTIES OUTPUT_NAME KbdBridge PREFIX "")
target_include_directories(kbdbridge_com PRIVATE ${QZ_KBD_OUT} ${QZ_KBD_DIR})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The .def names the exports plainly; 32-bit COM entry points are decorated stdcall names.
  target_link_options(kbdbridge_com PRIVATE -Wl,--enable-stdcall-fixup)
endif()
target_link_libraries(kbdbridge_com PRIVATE user32 advapi32)

add_executable(kbdbridge_client_test_win ${QZ_KBD_DIR}/keyboard_reader_test.cpp
  ${QZ_KBD_SRC}/ui/keyboard_reader_win.cpp ${QZ_KBD_SRC}/base/text_win.cpp)
set_target_properties(kbdbridge_client_test_win PROPERTIES OUTPUT_NAME kbdbridge_client_test)

foreach(target kbdbridge_com kbdbridge_client_test_win)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${QZ_KBD_OUT} LIBRARY_OUTPUT_DIRECTORY ${QZ_KBD_OUT})
  target_include_directories(${target} PRIVATE ${QZ_KBD_SRC})
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601 WINVER=0x0601)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QZ_WARNINGS}>)
  target_link_options(${target} PRIVATE -static)
  target_link_libraries(${target} PRIVATE ole32 oleaut32 uuid)
endforeach()
