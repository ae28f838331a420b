# The Debian packages Lumora needs, named once for scripts/setup and for the
# Debian 13 root of scripts/with-debian13. Every name exists on Debian 12
# and 13.

# shellcheck disable=SC2034
lumora_packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-private-dev libgl-dev libx11-dev
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools gstreamer1.0-alsa gstreamer1.0-x
    gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad gstreamer1.0-libav
    libturbojpeg0-dev libjpeg-turbo-progs ffmpeg
    libgtest-dev
    xvfb xauth x11-utils fonts-wqy-microhei imagemagick xdotool python3 gdb
    qt6-translations-l10n desktop-file-utils appstream
    pulseaudio
    pipewire pipewire-bin wireplumber gstreamer1.0-pipewire dbus-daemon libpipewire-0.3-dev
    gstreamer1.0-pulseaudio
    # as desktops with laptop cameras have it: its device provider hides V4L2's
    gstreamer1.0-libcamera
    dpkg-dev fakeroot lintian file
    weston qt6-wayland
    gstreamer1.0-plugins-base-apps
)

# The host's own: the camera VM boots this machine's kernel under QEMU with
# its webcam drivers, and the Debian 13 root is made with debootstrap.
host_only_packages=(
    qemu-system-x86 linux-image-amd64 linux-headers-amd64 v4l2loopback-dkms busybox-static udev v4l-utils kmod cpio
    debootstrap
)
