# Proves that the include roots of the layers let every include point down only. CTest runs
#   cmake -DCOMPILER=<c++> -DSOURCE_DIR=<src> -DWORK_DIR=<folder for the probes>
#         -DINCLUDES_<layer>=<the include directories of brisk_<layer>, joined by |> ...
#         -P check_layers.cmake
# For each layer it preprocesses two probes with the include directories the layer's own
# sources compile with. The first asks for every header of every folder, which must be
# found exactly in the folders the layer may use; the second includes each of the layer's
# own headers, which therefore may include nothing else either (a header no source of its
# own layer includes is checked too). Includes that climb out of their folder ("../")
# would go round the roots, so they are refused as well.

cmake_minimum_required(VERSION 3.25)

# What each layer may include, written out here rather than read from the build, so that
# a change to the build that lets an include through shows up as a failure.
set(may_use_platform platform)
set(may_use_common common platform)
set(may_use_secure secure common platform)
set(may_use_transfer transfer common platform)
set(may_use_link link transfer secure common platform)
set(may_use_discovery discovery)
set(may_use_cli cli link transfer secure common platform discovery)
set(may_use_ui ui link transfer secure common platform discovery)
set(layers platform common secure transfer link discovery cli ui)

set(failed FALSE)

# A new folder needs its place in the table (app/ holds only the programs' main()).
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY ${SOURCE_DIR}/${folder} AND NOT folder IN_LIST layers AND NOT folder STREQUAL app)
    message("src/${folder} is not a layer this check knows: add it to the table above")
    set(failed TRUE)
  endif()
endforeach()

# Preprocesses `source` with the include directories of `layer`; a failure is reported.
function(preprocess layer source)
  string(REPLACE "|" ";" directories "${INCLUDES_${layer}}")
  list(TRANSFORM directories PREPEND "-I")
  execute_process(COMMAND ${COMPILER} -std=c++20 -fPIC -E -o /dev/null ${directories} ${source}
                  RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message("${errors}")
    set(failed TRUE PARENT_SCOPE)
  endif()
endfunction()

foreach(layer IN LISTS layers)
  set(lookups "")
  foreach(folder IN LISTS layers)
    file(GLOB headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.h)
    foreach(header IN LISTS headers)
      if(folder IN_LIST may_use_${layer})
        string(APPEND lookups "#if !__has_include(\"${header}\")\n"
               "#error \"${layer} does not find ${header}\"\n#endif\n")
      else()
        string(APPEND lookups "#if __has_include(\"${header}\")\n"
               "#error \"${layer} finds ${header}, which it may not include\"\n#endif\n")
      endif()
    endforeach()
  endforeach()
  file(WRITE ${WORK_DIR}/${layer}_lookups.cpp "${lookups}")
  preprocess(${layer} ${WORK_DIR}/${layer}_lookups.cpp)

  # A probe of its own: GCC skips an #include whose name an earlier __has_include in the
  # same file did not find, instead of failing on it.
  set(includes "")
  file(GLOB own RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${layer}/*.h)
  foreach(header IN LISTS own)
    string(APPEND includes "#include \"${header}\"\n")
  endforeach()
  file(WRITE ${WORK_DIR}/${layer}_headers.cpp "${includes}")
  preprocess(${layer} ${WORK_DIR}/${layer}_headers.cpp)
endforeach()

file(GLOB_RECURSE sources ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
foreach(source IN LISTS sources)
  file(STRINGS ${source} climbing REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][.][.]/")
  if(climbing)
    message("${source} includes out of its folder: ${climbing}")
    set(failed TRUE)
  endif()
endforeach()

if(failed)
  message(FATAL_ERROR "An include can point the wrong way between the layers of src/.")
endif()
