# Includes name their folder ("engine/FFmpeg.h"). A target sees a folder only through a root of
# its own in the build tree that holds nothing but a link to that folder, so a layer's headers
# reach only the targets that link the layer, and an upward include fails to compile.
function(velox_folder_includes target scope folder)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${folder})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  if(scope STREQUAL "PRIVATE")
    target_include_directories(${target} PRIVATE ${root})
  else()
    target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>
                               $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/velox>)
  endif()
endfunction()
