# The embedded pictures, in item order: item number, then its PNG under png/.
# Item numbers are the symbol names (VYRBIN::temp_binary_data_<item>).
set(VYRBIN_ITEMS
  4  loopback_small.png
  6  loopback.png
  7  loopback_pressed.png
  8  face_small.png
  9  face_lit_small.png
  10 face_medium.png
  11 face_lit_medium.png
  12 face.png
  13 face_lit.png
  14 thumb_small.png
  15 thumb_small_hot.png
  16 thumb_medium.png
  17 thumb_medium_hot.png
  18 thumb.png
  19 thumb_hot.png
  23 about.png)
