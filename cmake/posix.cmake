# The Linux build: the component as a shared library, the kvkread command and the ctsim terminal
# simulator.
find_package(CLI11 CONFIG REQUIRED)
find_package(nlohmann_json 3 REQUIRED)

# libqzcardreader.so: the portable core plus the POSIX layer, the core linked in whole and
# privately (users get it from the library, never a second copy). kvkread, ctsim and the tests
# reach internals through the source tree's headers; hosts see only the installed API.
add_library(qzcardreader SHARED ${QZ_POSIX_SOURCES})
target_link_libraries(qzcardreader PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,qzcore>")
target_link_libraries(qzcardreader PUBLIC ${CMAKE_DL_LIBS})
target_include_directories(qzcardreader PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(qzcardreader PRIVATE ${QZ_WARNINGS})
# A soname that changes with the major version, so that distributions can package it.
set_target_properties(qzcardreader PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

# The terminal simulator as a library: used by ctsim, by kvkread --simulate and by the tests.
file(GLOB QZ_CTSIM_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/ctsim/*.cpp)
list(FILTER QZ_CTSIM_SOURCES EXCLUDE REGEX "_main\\.cpp$")
add_library(ctsim_lib STATIC ${QZ_CTSIM_SOURCES})
target_include_directories(ctsim_lib PUBLIC ${PROJECT_SOURCE_DIR}/tools/ctsim)
target_link_libraries(ctsim_lib PUBLIC qzcardreader)
target_compile_options(ctsim_lib PRIVATE ${QZ_WARNINGS})

add_executable(ctsim ${PROJECT_SOURCE_DIR}/tools/ctsim/ctsim_main.cpp)
target_link_libraries(ctsim PRIVATE ctsim_lib CLI11::CLI11)
target_compile_options(ctsim PRIVATE ${QZ_WARNINGS})
set_target_properties(ctsim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools/ctsim)

file(GLOB QZ_KVKREAD_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/kvkread/*.cpp)
add_executable(kvkread ${QZ_KVKREAD_SOURCES})
target_link_libraries(kvkread PRIVATE ctsim_lib qzcardreader CLI11::CLI11 nlohmann_json::nlohmann_json)
target_compile_options(kvkread PRIVATE ${QZ_WARNINGS})
set_target_properties(kvkread PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools/kvkread)

# Installation, the CMake and pkg-config packages and the .deb.
include(${CMAKE_CURRENT_LIST_DIR}/packaging.cmake)
