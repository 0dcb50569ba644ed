# layers.cmake -- the layer tests, generated from the graph the root CMakeLists.txt declares. For
# each layer: a file including a header of every layer it does not reach must fail to compile
# for want of that header (one test per forbidden pair), and a file including a header of each
# layer it uses directly must compile (so that the failures mean something). A check of the
# sources adds what the include paths cannot see: a quoted include that climbs out of its folder,
# and the platforms' own headers outside their backends.

# The layers `name` reaches: those it uses, and theirs, to the bottom.
function(qv_layer_reach name out)
  set(reach "")
  get_property(uses GLOBAL PROPERTY QV_LAYER_${name}_USES)
  foreach(used ${uses})
    qv_layer_reach(${used} below)
    list(APPEND reach ${used} ${below})
  endforeach()
  list(REMOVE_DUPLICATES reach)
  set(${out} ${reach} PARENT_SCOPE)
endfunction()

# A header of a layer, named as its users include it: "folder/file.h".
function(qv_layer_header name out)
  get_property(folder GLOBAL PROPERTY QV_LAYER_${name}_FOLDER)
  get_property(headers GLOBAL PROPERTY QV_LAYER_${name}_HEADERS)
  list(GET headers 0 header)
  get_filename_component(file ${header} NAME)
  set(${out} ${folder}/${file} PARENT_SCOPE)
endfunction()

set(QV_LAYER_CHECKS ${CMAKE_BINARY_DIR}/layer_checks)
file(REMOVE_RECURSE ${QV_LAYER_CHECKS})
get_property(QV_ALL_LAYERS GLOBAL PROPERTY QV_LAYERS)
foreach(layer ${QV_ALL_LAYERS})
  qv_layer_reach(${layer} reach)
  # The include path the layer's own sources compile with, as the build gives it (its own and any
  # the folder adds, and those its dependencies hand down), in a response file for the compiler.
  set(include_path ${QV_LAYER_CHECKS}/${layer}.rsp)
  set(dirs "$<TARGET_PROPERTY:${layer},INCLUDE_DIRECTORIES>"
           "$<TARGET_PROPERTY:${layer},INTERFACE_INCLUDE_DIRECTORIES>")
  file(GENERATE OUTPUT ${include_path}
       CONTENT "$<$<BOOL:${dirs}>:-I$<JOIN:$<REMOVE_DUPLICATES:${dirs}>,\n-I>>\n")
  set(flags -std=c++20 -fsyntax-only @${include_path})
  get_property(uses GLOBAL PROPERTY QV_LAYER_${layer}_USES)
  foreach(other ${QV_ALL_LAYERS})
    if(other STREQUAL layer)
      continue()
    endif()
    qv_layer_header(${other} header)
    set(check ${QV_LAYER_CHECKS}/${layer}_includes_${other}.cpp)
    file(WRITE ${check} "// A file of ${layer} including a header of ${other}.\n#include \"${header}\"\n")
    if(other IN_LIST uses)
      add_test(NAME layers.${layer}.uses.${other} COMMAND ${CMAKE_CXX_COMPILER} ${flags} ${check})
    elseif(NOT other IN_LIST reach)
      add_test(NAME layers.${layer}.cannot_include.${other}
               COMMAND ${CMAKE_CXX_COMPILER} ${flags} ${check})
      set_tests_properties(layers.${layer}.cannot_include.${other} PROPERTIES
                           PASS_REGULAR_EXPRESSION "${header}.*(No such file|not found)")
    endif()
  endforeach()
endforeach()

add_test(NAME layers.include_rules
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/layers/include_rules_test.sh ${CMAKE_SOURCE_DIR})
