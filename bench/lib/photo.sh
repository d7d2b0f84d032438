# Sourced by the image benchmarks. make_photo DIR writes DIR/x.jpg and DIR/x.png: 6000 × 4000
# pixels of smooth colour noise with some grain, closer to a photo than flat colour, which every
# encoder would make trivially small.
make_photo() {
  local work=$1
  vips gaussnoise "$work/r.v" 1500 1000 --mean 128 --sigma 50
  vips gaussnoise "$work/g.v" 1500 1000 --mean 128 --sigma 50
  vips gaussnoise "$work/b.v" 1500 1000 --mean 128 --sigma 50
  vips bandjoin "$work/r.v $work/g.v $work/b.v" "$work/rgb.v"
  vips resize "$work/rgb.v" "$work/big.v" 4 --kernel cubic
  vips gaussnoise "$work/grain.v" 6000 4000 --mean 0 --sigma 6
  vips add "$work/big.v" "$work/grain.v" "$work/photo.v"
  vips cast "$work/photo.v" "$work/photo8.v" uchar
  vips copy "$work/photo8.v" "$work/x.jpg[Q=92]"
  vips copy "$work/photo8.v" "$work/x.png"
  rm -f "$work"/*.v
}
