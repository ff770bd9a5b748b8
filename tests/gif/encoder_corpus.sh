#!/usr/bin/env bash
# Writes GIF files with one real encoder into a directory: encoder_corpus.sh ENCODER DIR.
# ENCODER is imagemagick, gifsicle, pillow, ffmpeg or giflib. Exits 77 with a message when the
# encoder's tool is not installed. The pictures: every colour count from 2 to 256, interlaced and
# not, local tables, many frames, odd sizes, and photographs and noise big enough to fill the
# LZW table.
set -euo pipefail
encoder=$1
dir=$2
mkdir -p "$dir"
cd "$dir"

need() {
  command -v "$1" >/dev/null 2>&1 || { echo "$1 is not installed"; exit 77; }
}

# Source pictures, made once by ImageMagick (which every encoder but Pillow and ffmpeg reads from).
sources() {
  need convert
  [ -f photo.ppm ] && return
  convert -seed 7 -size 64x48 plasma:fractal small.ppm
  convert -seed 3 -size 401x299 plasma:fractal photo.ppm
  convert -size 257x255 xc: +noise Random -depth 8 noise.ppm
}

case $encoder in
imagemagick)
  sources
  # Every colour count from 2 to 256, in one process. Dithering needs a large cache per
  # quantisation, so only the photograph is dithered.
  args=()
  for colors in $(seq 2 256); do
    args+=( \( +clone -colors "$colors" -write "im_colors_$colors.gif" +delete \) )
  done
  convert small.ppm +dither "${args[@]}" null:
  convert photo.ppm -colors 256 im_photo_256.gif
  convert photo.ppm +dither -colors 100 -interlace GIF im_photo_100_interlaced.gif
  convert noise.ppm +dither -colors 256 im_noise_256.gif
  convert noise.ppm +dither -colors 40 -interlace GIF im_noise_40_interlaced.gif
  # Frames of odd sizes with local tables of different sizes.
  convert -delay 5 +dither \( small.ppm -colors 3 \) \( photo.ppm -crop 33x17+5+9 +repage -colors 70 \) \
    \( noise.ppm -crop 1x50+0+0 +repage -colors 129 \) \( photo.ppm -resize 77x1! -colors 16 \) \
    im_frames_local.gif
  convert -delay 5 +dither -size 31x29 plasma:fractal plasma:fractal plasma:fractal plasma:fractal plasma:fractal \
    -colors 50 -interlace GIF im_frames_interlaced.gif
  ;;
gifsicle)
  sources
  need gifsicle
  convert photo.ppm +dither -colors 256 base_photo.gif
  convert noise.ppm +dither -colors 256 base_noise.gif
  convert small.ppm +dither -colors 256 base_small.gif
  for level in 1 2 3; do
    gifsicle -O$level base_photo.gif > gs_photo_O$level.gif
    gifsicle -O$level base_noise.gif > gs_noise_O$level.gif
  done
  for colors in 2 3 5 8 13 16 31 32 60 64 100 128 129 200 255; do
    gifsicle --colors "$colors" base_photo.gif > gs_photo_colors_$colors.gif
  done
  gifsicle --colors 64 --interlace base_noise.gif > gs_noise_64_interlaced.gif
  gifsicle --interlace -O3 base_photo.gif > gs_photo_interlaced_O3.gif
  gifsicle --lossy=80 base_photo.gif > gs_photo_lossy.gif
  gifsicle --lossy=200 --colors 48 base_noise.gif > gs_noise_lossy.gif
  gifsicle --crop 13,7+101x53 base_photo.gif > gs_photo_crop.gif
  gifsicle --crop 1,1+1x1 base_small.gif > gs_one_pixel.gif
  # Frames: different palettes become local tables; -O3 crops and optimises the later frames.
  gifsicle -O3 --loopcount base_photo.gif gs_photo_colors_32.gif gs_photo_colors_2.gif base_photo.gif \
    > gs_frames_O3.gif
  gifsicle base_small.gif base_noise.gif gs_photo_crop.gif gs_noise_64_interlaced.gif > gs_frames_local.gif
  rm -f base_*.gif
  ;;
pillow)
  py=/usr/bin/python3
  [ -x $py ] || { echo "$py is not installed"; exit 77; }
  $py -c 'import PIL' 2>/dev/null || { echo "Pillow (python3-pil) is not installed"; exit 77; }
  $py - <<'PY'
import random
from PIL import Image

random.seed(5)
def plasma(w, h):
    im = Image.new("RGB", (w, h))
    im.putdata([((x * 7 + y * 3) % 256, (x * y) % 251, (x ^ y) % 256) for y in range(h) for x in range(w)])
    return im
def noise(w, h):
    return Image.frombytes("RGB", (w, h), bytes(random.getrandbits(8) for _ in range(w * h * 3)))

small = plasma(45, 33)
for colors in range(2, 257):
    small.quantize(colors).save(f"pil_quantize_{colors}.gif")
for colors in (2, 17, 32, 64, 128, 256):
    small.convert("P", palette=Image.ADAPTIVE, colors=colors).save(f"pil_adaptive_{colors}.gif", interlace=False)
    # Palette mode with an exact table of this many entries.
    p = Image.new("P", (50, 21))
    p.putpalette([random.getrandbits(8) for _ in range(3 * colors)])
    p.putdata([random.randrange(colors) for _ in range(50 * 21)])
    p.save(f"pil_palette_{colors}.gif")
big = noise(300, 300).quantize(256)
big.save("pil_noise_256.gif")
big.save("pil_noise_256_interlaced.gif", interlace=True)
photo = plasma(400, 300).resize((601, 299))
photo.convert("P", palette=Image.ADAPTIVE, colors=256).save("pil_photo_256.gif", optimize=False)
frames = [plasma(64 + i, 40).quantize(8 * (i + 1)) for i in range(6)]
frames[0].save("pil_frames.gif", save_all=True, append_images=frames[1:], duration=40, loop=0)
frames[0].save("pil_frames_optimised.gif", save_all=True, append_images=frames[1:], optimize=True, disposal=2)
PY
  ;;
ffmpeg)
  need ffmpeg
  ff() { ffmpeg -v error -y "$@"; }
  # Sources of a fixed length: the palette is made from the whole input.
  ff -t 0.8 -f lavfi -i testsrc=size=161x121:rate=5 \
    -vf "split[a][b];[a]palettegen[p];[b][p]paletteuse" ff_testsrc_palettegen.gif
  ff -t 0.6 -f lavfi -i mandelbrot=size=320x240:rate=5 \
    -vf "split[a][b];[a]palettegen=stats_mode=diff[p];[b][p]paletteuse=new=1" ff_mandelbrot_local.gif
  ff -t 1 -f lavfi -i cellauto=size=97x55:rate=5 -pix_fmt rgb8 ff_cellauto_rgb8.gif
  ff -t 0.2 -f lavfi -i "nullsrc=size=256x256:rate=5,geq=random(1)*255:128:128" -pix_fmt pal8 ff_noise_pal8.gif
  ;;
giflib)
  sources
  need gifbuild
  need giftool
  convert photo.ppm +dither -colors 256 base_photo.gif
  convert noise.ppm +dither -colors 200 base_noise.gif
  convert small.ppm +dither -colors 9 base_small.gif
  # Re-encoded by giflib's own encoder, through its text dump and with interlacing switched on.
  gifbuild -d base_photo.gif | gifbuild > gl_photo_rebuilt.gif
  gifbuild -d base_small.gif | gifbuild > gl_small_rebuilt.gif
  giftool -i yes < base_noise.gif > gl_noise_interlaced.gif
  giftool -i yes < base_small.gif > gl_small_interlaced.gif
  rm -f base_*.gif
  ;;
*)
  echo "unknown encoder $encoder"
  exit 2
  ;;
esac
rm -f small.ppm photo.ppm noise.ppm
