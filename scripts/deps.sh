# Sourced by the other scripts: installs the Debian 12 packages the build,
# the tests and the fixtures need, only when one of them is missing (so a
# prepared machine needs no network).
AMBREL_PACKAGES=(build-essential cmake pkg-config libgtest-dev libbenchmark-dev libmd-dev
  libminizip-dev zlib1g-dev libpng-dev libblkid-dev sleuthkit mtools dosfstools ntfs-3g exfatprogs exfat-fuse fdisk gdisk fusefat
  libewf-dev libvhdi-dev libvmdk-dev libuchardet-dev ewf-tools qemu-utils libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev python3
  qt6-base-dev qt6-image-formats-plugins xvfb xauth qt6-translations-l10n fonts-noto-cjk
  catdoc docx2txt xlsx2csv unzip p7zip-full libimage-exiftool-perl ffmpeg testdisk
  libheif-dev libheif-examples libraw-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev)

ambrel_install_missing() {
  local missing=() pkg
  for pkg in "${AMBREL_PACKAGES[@]}"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
}
