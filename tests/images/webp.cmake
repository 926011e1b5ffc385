# WebP pictures, encoded lossless by cwebp from the PNGs above (so their pixels are the PNG's
# exactly; cwebp keeps none of the PNG's metadata unless asked), with metadata chunks added by
# webpmux and exiftool. The pictures the end-to-end tests open have a twin FILE.ppm, decoded by
# dwebp as a decoder plug-in hands the pixels over: no colour conversion, no turning.
#
#   rgb.webp           the quadrants of rgb.png, lossless, no metadata (simple format: VP8L only)
#   adobe.webp         the HALD colours of adobe.png, lossless, with compatibleWithAdobeRGB1998.icc
#                      in an ICCP chunk
#   orient6.webp       rgb.webp with an EXIF chunk of big-endian TIFF data (exiftool's, its first
#                      directory at offset 16) holding Orientation 6; its twin stays 64x48
#   exif-prefix.webp   rgb.webp with an EXIF chunk of "Exif\0\0" before little-endian TIFF data
#                      holding Orientation 8, as writers do that copy a JPEG's APP1 payload
#   anim.webp          two frames of rgb.webp, the ICCP chunk of adobe.webp before them and the
#                      EXIF chunk of exif-prefix.webp (without the prefix) after them
#   adobe.webp.ppm, orient6.webp.ppm   the twins
#   adobe-plain.webp, anim-plain.webp, anim-icc.webp, orient8.exif, orient8-prefix.exif
#                      the steps between
find_program(QORVI_CWEBP NAMES cwebp REQUIRED)
find_program(QORVI_DWEBP NAMES dwebp REQUIRED)
find_program(QORVI_WEBPMUX NAMES webpmux REQUIRED)

set(webp_folder ${QORVI_IMAGE_FOLDER})
foreach(name_source rgb.webp:rgb.png adobe-plain.webp:adobe.png)
  string(REPLACE ":" ";" name_source ${name_source})
  list(GET name_source 0 name)
  list(GET name_source 1 source)
  add_custom_command(OUTPUT ${webp_folder}/${name}
    COMMAND ${QORVI_CWEBP} -quiet -lossless ${webp_folder}/${source} -o ${webp_folder}/${name}
    DEPENDS ${webp_folder}/${source}
    COMMENT "Making test picture ${name}" VERBATIM)
endforeach()
add_custom_command(OUTPUT ${webp_folder}/adobe.webp
  COMMAND ${QORVI_WEBPMUX} -set icc ${adobe_profile} ${webp_folder}/adobe-plain.webp
          -o ${webp_folder}/adobe.webp
  DEPENDS ${webp_folder}/adobe-plain.webp ${adobe_profile}
  COMMENT "Making test picture adobe.webp" VERBATIM)
# exiftool writes WebP in place only: given -o with a .webp name it refuses the RIFF file.
add_custom_command(OUTPUT ${webp_folder}/orient6.webp
  COMMAND ${CMAKE_COMMAND} -E copy ${webp_folder}/rgb.webp ${webp_folder}/orient6.webp
  COMMAND ${QORVI_EXIFTOOL} -q -q -overwrite_original "-Orientation#=6" ${webp_folder}/orient6.webp
  DEPENDS ${webp_folder}/rgb.webp
  COMMENT "Making test picture orient6.webp" VERBATIM)

# The TIFF data of exif-prefix.webp and anim.webp: exiftool writes a bare Exif file from a
# picture that has none (rgb.jpg), then the identifier goes before it.
add_custom_command(OUTPUT ${webp_folder}/orient8.exif ${webp_folder}/orient8-prefix.exif
  COMMAND ${CMAKE_COMMAND} -E rm -f ${webp_folder}/orient8.exif
  COMMAND ${QORVI_EXIFTOOL} -q -q "-Orientation#=8" -ExifByteOrder=II -o ${webp_folder}/orient8.exif
          ${webp_folder}/rgb.jpg
  COMMAND ${QORVI_PYTHON} -c
          "import sys; open(sys.argv[2], 'wb').write(b'Exif\\0\\0' + open(sys.argv[1], 'rb').read())"
          ${webp_folder}/orient8.exif ${webp_folder}/orient8-prefix.exif
  DEPENDS ${webp_folder}/rgb.jpg
  COMMENT "Making the Exif data of exif-prefix.webp" VERBATIM)
add_custom_command(OUTPUT ${webp_folder}/exif-prefix.webp
  COMMAND ${QORVI_WEBPMUX} -set exif ${webp_folder}/orient8-prefix.exif ${webp_folder}/rgb.webp
          -o ${webp_folder}/exif-prefix.webp
  DEPENDS ${webp_folder}/rgb.webp ${webp_folder}/orient8-prefix.exif
  COMMENT "Making test picture exif-prefix.webp" VERBATIM)
add_custom_command(OUTPUT ${webp_folder}/anim.webp
  COMMAND ${QORVI_WEBPMUX} -frame ${webp_folder}/rgb.webp +100 -frame ${webp_folder}/rgb.webp +200
          -loop 0 -o ${webp_folder}/anim-plain.webp
  COMMAND ${QORVI_WEBPMUX} -set icc ${adobe_profile} ${webp_folder}/anim-plain.webp
          -o ${webp_folder}/anim-icc.webp
  COMMAND ${QORVI_WEBPMUX} -set exif ${webp_folder}/orient8.exif ${webp_folder}/anim-icc.webp
          -o ${webp_folder}/anim.webp
  DEPENDS ${webp_folder}/rgb.webp ${webp_folder}/orient8.exif ${adobe_profile}
  COMMENT "Making test picture anim.webp" VERBATIM)

foreach(name adobe orient6)
  add_custom_command(OUTPUT ${webp_folder}/${name}.webp.ppm
    COMMAND ${QORVI_DWEBP} -quiet ${webp_folder}/${name}.webp -ppm -o ${webp_folder}/${name}.webp.ppm
    DEPENDS ${webp_folder}/${name}.webp
    COMMENT "Making test picture ${name}.webp.ppm" VERBATIM)
  list(APPEND images ${webp_folder}/${name}.webp.ppm)
endforeach()
foreach(name rgb adobe orient6 exif-prefix anim)
  list(APPEND images ${webp_folder}/${name}.webp)
endforeach()
