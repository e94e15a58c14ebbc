# Profile-guided optimization of liborva.so.
#
# An optimized GCC build first builds an instrumented copy of the library, the orva
# command and a small embedding host in pgo/ under the build folder, runs a training set on
# them (scripts/pgo-train.sh: the benchmarks' scripts, a host calling a handler per event,
# the examples) and then compiles the library's sources with the profile those runs left.
# GCC lays out the code the runs took together and moves the rest out of its way, so that
# a host's call of a handler keeps to fewer instruction-cache lines.
#
# The profile only steers optimization: a run that fails, or code the training never
# reaches, costs speed, never correctness. The parser and the scanner are left out: they
# are generated into each build folder, whose name their line markers carry, and the
# profile would not recognize their functions. -DORVA_PGO=OFF builds without it.

option(ORVA_PGO "Optimize liborva.so with a profile of a training run (optimized GCC builds)" ON)

set(ORVA_PGO_DIR ${CMAKE_BINARY_DIR}/pgo)
set(ORVA_PGO_PROFILE ${ORVA_PGO_DIR}/profile)

# Gives ORVA's own sources the options of one side of the profile.
function(orva_pgo_options)
  set_source_files_properties(${ORVA_OWN_SOURCES} DIRECTORY src PROPERTIES COMPILE_OPTIONS "${ARGN}")
endfunction()

# ORVA_PGO_GENERATE is set only for the instrumented build: the folder its runs write the
# profile to.
if(ORVA_PGO_GENERATE)
  orva_pgo_options(-fprofile-generate=${ORVA_PGO_GENERATE} -fprofile-prefix-path=${CMAKE_BINARY_DIR})
  target_link_options(orva PRIVATE -fprofile-generate)
  add_executable(orva_pgo_host ${PROJECT_SOURCE_DIR}/bench/embed/orva_host.cpp)
  target_link_libraries(orva_pgo_host PRIVATE orva)
  return()
endif()

if(NOT ORVA_PGO OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
   OR NOT CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$"
   OR ORVA_SANITIZE OR ORVA_TSAN OR ORVA_FUZZ OR CMAKE_CROSSCOMPILING)
  return()
endif()

include(ExternalProject)
ExternalProject_Add(orva_pgo_training
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ORVA_PGO_DIR}/build
  PREFIX ${ORVA_PGO_DIR}
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
    -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
    -DORVA_PGO=OFF
    -DORVA_LTO=OFF
    -DORVA_BUILD_TESTS=OFF
    -DORVA_PGO_GENERATE=${ORVA_PGO_PROFILE}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ${PROJECT_SOURCE_DIR}/scripts/pgo-train.sh <BINARY_DIR> ${ORVA_PGO_PROFILE})

add_dependencies(orva_objects orva_pgo_training)
set(ORVA_PGO_USE -fprofile-use=${ORVA_PGO_PROFILE} -fprofile-partial-training -Wno-missing-profile)
orva_pgo_options(${ORVA_PGO_USE} -fprofile-prefix-path=${CMAKE_BINARY_DIR})
# The link-time optimizer works under the same profile options as the compiler.
target_link_options(orva PRIVATE ${ORVA_PGO_USE})
