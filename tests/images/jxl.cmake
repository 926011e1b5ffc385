# JPEG XL pictures, made by Debian's cjxl (libjxl 0.7) from colour-less PPM/PGM copies of the
# pictures above (cjxl takes -x color_space=... as the encoding of such input), and decoded by
# djxl. What each header says:
#
#   p3.jxl         colours.png, lossless, bare codestream: RGB, D65, P3 primaries, sRGB transfer
#   p3.jxl.ppm     p3.jxl decoded (64x64)
#   orient6.jxl    orient6.jpg transcoded losslessly: a container with the codestream split in two
#                  jxlp boxes (the first holds only 6 bytes, in the middle of the header), JPEG
#                  reconstruction data and Brotli-compressed Exif; orientation 6 in the header,
#                  the default (sRGB) colour encoding
#   orient6.jxl.ppm  orient6.jxl decoded and turned upright by djxl (48x64)
#   alpha.jxl      rgba.png, lossless, an alpha channel: D65, sRGB primaries, gamma 1/2.2 (from
#                  the PNG's gAMA)
#   anim.jxl       anim.gif, lossless, two frames: sRGB given in full, perceptual intent
#   grey.jxl       the grey quadrants, lossless: grey, DCI white point, BT.709 transfer
#   hlg.jxl        quadrants, lossy (XYB): BT.2100 primaries, HLG
#   pq.jxl         quadrants, lossless: BT.2100 primaries, PQ, intensity target 1000 cd/m2
#   pq-lossy.jxl   quadrants, lossy (XYB): BT.2100 primaries, PQ, no tone mapping (cjxl leaves out
#                  the header's extra fields)
#   dci.jxl        quadrants, lossless: DCI white point, P3 primaries, DCI transfer (gamma 2.6)
#   linear-e.jxl   quadrants, lossless: white point E, sRGB primaries, linear, saturation intent
#   custom.jxl     chrm.png, lossless, in a container (jxlc box): custom white point (0.3457,
#                  0.3585), custom primaries, gamma 0.55556 (decoding 1.8)
#   icc.jxl        adobe.png, lossless: its ICC profile, compressed in the codestream
#   extras.jxl     an image header alone, written by make-jxl-header.py (see there): the header's
#                  fields cjxl never writes, PQ with intensity target 4000
find_program(QORVI_CJXL NAMES cjxl REQUIRED)
find_program(QORVI_DJXL NAMES djxl REQUIRED)

# cjxl's input: quadrants, the grey quadrants and the colours of colours.png, without colour data.
qorvi_add_image(jxl-in-quadrants.ppm ${quadrants} -depth 8 ppm:)
qorvi_add_image(jxl-in-grey.pgm ${grey_quadrants} -depth 8 pgm:)
add_custom_command(OUTPUT ${QORVI_IMAGE_FOLDER}/jxl-in-colours.ppm
  COMMAND ${QORVI_CONVERT} ${QORVI_IMAGE_FOLDER}/colours.png -depth 8
          ppm:${QORVI_IMAGE_FOLDER}/jxl-in-colours.ppm
  DEPENDS ${QORVI_IMAGE_FOLDER}/colours.png
  COMMENT "Making test picture jxl-in-colours.ppm" VERBATIM)
list(APPEND images ${QORVI_IMAGE_FOLDER}/jxl-in-colours.ppm)

# qorvi_add_jxl(FILE SOURCE cjxl-arguments...): SOURCE (a file of bin/images) through cjxl.
function(qorvi_add_jxl file source)
  add_custom_command(OUTPUT ${QORVI_IMAGE_FOLDER}/${file}
    COMMAND ${QORVI_CJXL} ${QORVI_IMAGE_FOLDER}/${source} ${QORVI_IMAGE_FOLDER}/${file} --quiet ${ARGN}
    DEPENDS ${QORVI_IMAGE_FOLDER}/${source}
    COMMENT "Making test picture ${file}" VERBATIM)
  set(images ${images} ${QORVI_IMAGE_FOLDER}/${file} PARENT_SCOPE)
endfunction()

qorvi_add_jxl(p3.jxl jxl-in-colours.ppm -d 0 -x color_space=RGB_D65_DCI_Rel_SRG)
qorvi_add_jxl(orient6.jxl orient6.jpg --lossless_jpeg=1)
qorvi_add_jxl(alpha.jxl rgba.png -d 0)
qorvi_add_jxl(anim.jxl anim.gif -d 0)
qorvi_add_jxl(grey.jxl jxl-in-grey.pgm -d 0 -x color_space=Gra_DCI_Rel_709)
qorvi_add_jxl(hlg.jxl jxl-in-quadrants.ppm -d 1 -x color_space=RGB_D65_202_Rel_HLG)
qorvi_add_jxl(pq.jxl jxl-in-quadrants.ppm -d 0 -x color_space=RGB_D65_202_Rel_PeQ
              --intensity_target=1000)
qorvi_add_jxl(pq-lossy.jxl jxl-in-quadrants.ppm -d 1 -x color_space=RGB_D65_202_Rel_PeQ)
qorvi_add_jxl(dci.jxl jxl-in-quadrants.ppm -d 0 -x color_space=RGB_DCI_DCI_Rel_DCI)
qorvi_add_jxl(linear-e.jxl jxl-in-quadrants.ppm -d 0 -x color_space=RGB_EER_SRG_Sat_Lin)
qorvi_add_jxl(custom.jxl chrm.png -d 0 --container=1)
qorvi_add_jxl(icc.jxl adobe.png -d 0)

add_custom_command(OUTPUT ${QORVI_IMAGE_FOLDER}/extras.jxl
  COMMAND ${QORVI_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/make-jxl-header.py ${QORVI_IMAGE_FOLDER}/extras.jxl
  DEPENDS make-jxl-header.py
  COMMENT "Making test picture extras.jxl" VERBATIM)
list(APPEND images ${QORVI_IMAGE_FOLDER}/extras.jxl)

# The decoded twins, as a decoder plug-in hands the pixels over: djxl applies the orientation.
foreach(file p3.jxl orient6.jxl)
  add_custom_command(OUTPUT ${QORVI_IMAGE_FOLDER}/${file}.ppm
    COMMAND ${QORVI_DJXL} ${QORVI_IMAGE_FOLDER}/${file} ${QORVI_IMAGE_FOLDER}/${file}.ppm --quiet
    DEPENDS ${QORVI_IMAGE_FOLDER}/${file}
    COMMENT "Making test picture ${file}.ppm" VERBATIM)
  list(APPEND images ${QORVI_IMAGE_FOLDER}/${file}.ppm)
endforeach()
