# tallyforge_embed(<target> <symbol> <file>)
# Compiles <file> into <target> as `extern const unsigned char <symbol>[]` followed by a
# terminating zero byte (so text files can be used as C strings) and
# `extern const std::size_t <symbol>Size` (the file's size without that zero).
set(_tallyforge_embed_script "${CMAKE_CURRENT_LIST_DIR}/EmbedFile.cmake")

function(tallyforge_embed target symbol file)
  get_filename_component(input "${file}" ABSOLUTE)
  set(output "${CMAKE_BINARY_DIR}/embedded/${symbol}.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DSYMBOL=${symbol}
            -P "${_tallyforge_embed_script}"
    DEPENDS "${input}" "${_tallyforge_embed_script}"
    COMMENT "Embedding ${file} as ${symbol}"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()
