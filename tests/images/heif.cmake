# HEIF and AVIF pictures, made by Debian's heif-enc (libheif with x265) and avifenc (libavif with
# aom), each with its decoded twin FILE.ppm: the 8-bit pixels heif-convert or avifdec hands over
# (they apply irot and imir and convert no colours), through a PNG that ImageMagick writes out as a
# binary PPM.
#
#   adobe.heic     adobe.png (the HALD table) with its profile in a colr box of type prof
#   p3.heic        colours.png with a colr nclx 12/13/6, full range (Display P3), which
#                  add-heif-property.py adds: heif-enc writes no nclx box for a PNG
#   p3.avif        colours.png, 8-bit, colr nclx 12/13/6, full range
#   adobe.avif     colours.png, 8-bit, compatibleWithAdobeRGB1998.icc in a colr of type prof and,
#                  as avifenc writes beside it, a colr nclx 2/2/6
#   orient6.heic   orient6.jpg (quadrants, Exif Orientation 6): heif-enc makes the 64x48 picture a
#                  grid item made of one 64x64 tile, and keeps the Exif data as an item; no irot
#   rotated.heic   orient6.heic with irot 3 (a quarter turn clockwise) on the grid item, added by
#                  add-heif-property.py; its twin is 48x64, turned once
#   pq.png         make-hdr-png.py's 256x96 chart in 16-bit PQ, without colour chunks: eight neutral
#                  patches in the top row, patch i spanning x 32i..32i+31, y 0..31, at 5, 20, 50,
#                  100, 203, 400, 1000 and 4000 cd/m2; below, a neutral ramp and colours from
#                  203 cd/m2 up (see the script)
#   hlg.png        the same chart in 16-bit HLG (1000 cd/m2 display), patches at 5, 20, 50, 100,
#                  203, 400, 700 and 1000 cd/m2
#   pq.avif        pq.png, 10-bit 4:4:4, colr nclx 9/16/9, full range, quantizer 0
#   hlg.avif       hlg.png, the same with colr nclx 9/18/9
find_program(QORVI_HEIF_ENC NAMES heif-enc REQUIRED)
find_program(QORVI_HEIF_CONVERT NAMES heif-convert REQUIRED)
find_program(QORVI_AVIFENC NAMES avifenc REQUIRED)
find_program(QORVI_AVIFDEC NAMES avifdec REQUIRED)

set(heif_folder ${QORVI_IMAGE_FOLDER})
set(add_heif_property ${CMAKE_CURRENT_SOURCE_DIR}/add-heif-property.py)
set(p3_codes --colour_primaries 12 --transfer_characteristic 13 --matrix_coefficients 6
             --full_range_flag 1)
# One thread and a fixed speed: aom then writes the same bytes on every run.
set(avif_options -j 1 -s 6)

# qorvi_add_heif_picture(FILE DEPENDS... COMMANDS...): FILE made by the commands (each a quoted
# list), then its decoded twin FILE.ppm.
function(qorvi_add_heif_picture file)
  cmake_parse_arguments(ARG "" "" "DEPENDS;COMMANDS" ${ARGN})
  set(output ${heif_folder}/${file})
  set(commands)
  foreach(command ${ARG_COMMANDS})
    list(APPEND commands COMMAND ${${command}})
  endforeach()
  add_custom_command(OUTPUT ${output} ${commands} DEPENDS ${ARG_DEPENDS}
    COMMENT "Making test picture ${file}" VERBATIM)
  if(file MATCHES "\\.avif$")
    set(decode ${QORVI_AVIFDEC} -d 8 ${output} ${output}-decoded.png)
  else()
    set(decode ${QORVI_HEIF_CONVERT} ${output} ${output}-decoded.png)
  endif()
  add_custom_command(OUTPUT ${output}.ppm
    COMMAND ${decode}
    COMMAND ${QORVI_CONVERT} ${output}-decoded.png -depth 8 ppm:${output}.ppm
    COMMAND ${CMAKE_COMMAND} -E rm -f ${output}-decoded.png
    DEPENDS ${output}
    COMMENT "Decoding test picture ${file}" VERBATIM)
  set(images ${images} ${output} ${output}.ppm PARENT_SCOPE)
endfunction()

set(adobe_heic ${QORVI_HEIF_ENC} -q 90 -o ${heif_folder}/adobe.heic ${heif_folder}/adobe.png)
qorvi_add_heif_picture(adobe.heic DEPENDS ${heif_folder}/adobe.png COMMANDS adobe_heic)

set(p3_heic_plain ${QORVI_HEIF_ENC} -q 90 ${p3_codes} -o ${heif_folder}/p3-unmarked.heic
                  ${heif_folder}/colours.png)
set(p3_heic_nclx ${QORVI_PYTHON} ${add_heif_property} ${heif_folder}/p3-unmarked.heic
                 ${heif_folder}/p3.heic nclx 12 13 6 1)
set(p3_heic_clean ${CMAKE_COMMAND} -E rm -f ${heif_folder}/p3-unmarked.heic)
qorvi_add_heif_picture(p3.heic DEPENDS ${heif_folder}/colours.png ${add_heif_property}
  COMMANDS p3_heic_plain p3_heic_nclx p3_heic_clean)

set(p3_avif ${QORVI_AVIFENC} ${avif_options} -d 8 -r full --cicp 12/13/6
            ${heif_folder}/colours.png ${heif_folder}/p3.avif)
qorvi_add_heif_picture(p3.avif DEPENDS ${heif_folder}/colours.png COMMANDS p3_avif)

set(adobe_avif ${QORVI_AVIFENC} ${avif_options} -d 8 --icc ${adobe_profile}
               ${heif_folder}/colours.png ${heif_folder}/adobe.avif)
qorvi_add_heif_picture(adobe.avif DEPENDS ${heif_folder}/colours.png COMMANDS adobe_avif)

set(orient6_heic ${QORVI_HEIF_ENC} -q 90 -o ${heif_folder}/orient6.heic
                 ${heif_folder}/orient6.jpg)
qorvi_add_heif_picture(orient6.heic DEPENDS ${heif_folder}/orient6.jpg COMMANDS orient6_heic)

set(rotated_heic ${QORVI_PYTHON} ${add_heif_property} ${heif_folder}/orient6.heic
                 ${heif_folder}/rotated.heic irot 3)
qorvi_add_heif_picture(rotated.heic DEPENDS ${heif_folder}/orient6.heic ${add_heif_property}
  COMMANDS rotated_heic)

foreach(kind_transfer pq:16 hlg:18)
  string(REPLACE ":" ";" kind_transfer ${kind_transfer})
  list(GET kind_transfer 0 kind)
  list(GET kind_transfer 1 transfer)
  add_custom_command(OUTPUT ${heif_folder}/${kind}.png
    COMMAND ${QORVI_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/make-hdr-png.py ${kind}
            ${heif_folder}/${kind}.png
    DEPENDS make-hdr-png.py
    COMMENT "Making test picture ${kind}.png" VERBATIM)
  list(APPEND images ${heif_folder}/${kind}.png)
  set(${kind}_avif ${QORVI_AVIFENC} ${avif_options} -d 10 -y 444 -r full --cicp 9/${transfer}/9
                   --min 0 --max 0 ${heif_folder}/${kind}.png ${heif_folder}/${kind}.avif)
  qorvi_add_heif_picture(${kind}.avif DEPENDS ${heif_folder}/${kind}.png COMMANDS ${kind}_avif)
endforeach()
