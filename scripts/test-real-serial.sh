#!/usr/bin/env bash
# The real-driver tier: the station and its serial layer on the Linux kernel's own serial
# drivers, in a QEMU guest running Debian's kernel. Two of QEMU's 16550 UARTs (ttyS1,
# ttyS2 in the guest, through the 8250 driver) are wired to each other through one UNIX
# socket on the host, QEMU's FTDI USB adapter (ttyUSB0, ftdi_sio) to a third (ttyS3); the
# adapter is pulled out mid-run through QEMU's monitor. The guest boots from an initramfs
# made here from busybox and the kernel's modules, and runs the programs of build/release
# from the host's tree, shared read-only. KVM is tried first (15 s for the kernel's first
# line), then TCG. Where QEMU cannot run at all the tier says so and passes.
# Usage: scripts/test-real-serial.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
cache=$root/build/real-serial
started=$SECONDS
guest_limit=240 # seconds for the guest's whole run, boot included
modules=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache 9pnet 9pnet_virtio
    9p usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio)

say() { echo "real-serial: $*"; }
cannot_run() {
    say "SKIPPED, QEMU cannot run here: $*"
    say "nothing was tested on the kernel's serial drivers"
    exit 0
}

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"$root/scripts/setup.sh" qemu-system-x86 busybox-static strace xz-utils ||
    cannot_run "qemu-system-x86 and busybox-static could not be installed"
command -v qemu-system-x86_64 > /dev/null || cannot_run "qemu-system-x86_64 is missing"
"$root/scripts/build.sh" release

# Debian's kernel, fetched as a package and unpacked here: the host's /boot stays as it is.
# Booting the kernel's own ELF image (vmlinux, through PVH) skips the decompressor.
kernel_package() {
    apt-cache depends linux-image-amd64 2> /dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n 1
}
fetch_kernel() {
    local package
    package=$(kernel_package)
    if [[ -z $package ]]; then
        "${as_root[@]}" apt-get update -qq || return 1
        package=$(kernel_package)
    fi
    [[ -n $package ]] || return 1
    local dir=$cache/$package
    if [[ ! -f $dir/ready ]]; then
        rm -rf "$dir"
        mkdir -p "$dir/deb"
        (cd "$dir/deb" && apt-get download -q "$package" > /dev/null 2>&1) || return 1
        # A pattern that matches nothing (a module built in) is no failure.
        dpkg-deb --fsys-tarfile "$dir"/deb/*.deb |
            tar -x -C "$dir" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/usb/*' \
                './lib/modules/*/kernel/drivers/virtio/*' './lib/modules/*/kernel/fs/9p/*' './lib/modules/*/kernel/fs/netfs/*' \
                './lib/modules/*/kernel/fs/fscache/*' './lib/modules/*/kernel/net/9p/*' 2> /dev/null || true
        rm -rf "$dir/deb"
        ls "$dir"/boot/vmlinuz-* > /dev/null 2>&1 || return 1
        make_vmlinux "$dir"
        touch "$dir/ready"
    fi
    kernel_dir=$dir
}
# vmlinux from the xz stream inside vmlinuz; left out when the kernel is packed otherwise.
make_vmlinux() {
    local image offset
    image=$(ls "$1"/boot/vmlinuz-*)
    offset=$(grep -obUaP '\xfd7zXZ\x00' "$image" | head -n 1 | cut -d: -f1 || true)
    [[ -n $offset ]] || return 0
    tail -c +$((offset + 1)) "$image" | xz -dc --single-stream > "$1/vmlinux" 2> /dev/null || true
    [[ $(head -c 4 "$1/vmlinux" | od -An -tx1 | tr -d ' ') == 7f454c46 ]] || rm -f "$1/vmlinux"
}
fetch_kernel || cannot_run "Debian's kernel package could not be fetched"
kernel=$kernel_dir/vmlinux
[[ -f $kernel ]] || kernel=$(ls "$kernel_dir"/boot/vmlinuz-*)

work=$(mktemp -d "${TMPDIR:-/tmp}/hydrix-real-serial-XXXXXX")
qemu_pid=
stop_qemu() {
    if [[ -n $qemu_pid ]] && kill -0 "$qemu_pid" 2> /dev/null; then
        kill "$qemu_pid" 2> /dev/null || true
    fi
    [[ -z $qemu_pid ]] || wait "$qemu_pid" 2> /dev/null || true
    qemu_pid=
}
trap 'stop_qemu; rm -rf "$work"' EXIT

# The initramfs: busybox, the modules in load order, and init.
initrd=$work/initrd.cpio
(
    tree=$work/initrd
    mkdir -p "$tree/bin" "$tree/proc" "$tree/sys" "$tree/dev" "$tree/modules"
    cp "$(command -v busybox)" "$tree/bin/busybox"
    cp "$root/tests/real_serial/init.sh" "$tree/init"
    for module in "${modules[@]}"; do
        found=$(find "$kernel_dir/lib/modules" -name "$module.ko*" | head -n 1)
        [[ -n $found ]] || continue # built into the kernel
        case $found in
        *.xz) xz -dc "$found" > "$tree/modules/$module.ko" ;;
        *) cp "$found" "$tree/modules/$module.ko" ;;
        esac
        echo "$module" >> "$tree/modules/order"
    done
    cd "$tree" && find . | busybox cpio -o -H newc 2> /dev/null > "$initrd"
)
echo "$build" > "$work/build-dir"

# boot ACCEL RUN-DIR: starts QEMU in the background (qemu_pid); its console goes to
# RUN-DIR/console, its monitor reads RUN-DIR/monitor.in.
boot() {
    local accel=$1 run=$2
    mkdir -p "$run"
    mkfifo "$run/monitor.in" "$run/monitor.out"
    local cpu=()
    [[ $accel == kvm ]] && cpu=(-cpu host)
    qemu-system-x86_64 -M pc -accel "$accel" "${cpu[@]}" -m 1024 -smp 2 -nodefaults -nographic -no-reboot \
        -kernel "$kernel" -initrd "$initrd" \
        -append "console=ttyS0 loglevel=6 panic=-1 hydrix.work=$work hydrix.script=$root/tests/real_serial/guest.sh" \
        -chardev "file,id=console,path=$run/console" -device isa-serial,chardev=console,iobase=0x3f8,irq=4 \
        -chardev "socket,id=uart1,path=$run/uart.sock,server=on,wait=off" -device isa-serial,chardev=uart1,iobase=0x2f8,irq=3 \
        -chardev "socket,id=uart2,path=$run/uart.sock" -device isa-serial,chardev=uart2,iobase=0x3e8,irq=5 \
        -chardev "socket,id=adapter,path=$run/usb.sock,server=on,wait=off" -device qemu-xhci \
        -device usb-serial,chardev=adapter,id=ftdi \
        -chardev "socket,id=uart3,path=$run/usb.sock" -device isa-serial,chardev=uart3,iobase=0x2e8,irq=7 \
        -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
        -virtfs "local,path=$work,mount_tag=work,security_model=none,multidevs=remap" \
        -chardev "pipe,id=monitor,path=$run/monitor" -mon chardev=monitor,mode=readline \
        > "$run/qemu.log" 2>&1 &
    qemu_pid=$!
}

# Waits up to LIMIT seconds for the kernel's first line; false when QEMU ended or hung.
kernel_started() {
    local run=$1 limit=$2 deadline=$((SECONDS + $2))
    while ((SECONDS < deadline)); do
        grep -q 'Linux version' "$run/console" 2> /dev/null && return 0
        kill -0 "$qemu_pid" 2> /dev/null || return 1
        sleep 0.1
    done
    return 1
}

accel=
if [[ -r /dev/kvm && -w /dev/kvm ]]; then
    boot kvm "$work/kvm"
    if kernel_started "$work/kvm" 15; then
        accel=kvm
        run=$work/kvm
    else
        say "no kernel line under KVM within 15 s ($(tail -n 1 "$work/kvm/qemu.log" 2> /dev/null)); using TCG"
        stop_qemu
    fi
fi
if [[ -z $accel ]]; then
    boot tcg "$work/tcg"
    run=$work/tcg
    kernel_started "$run" 60 || cannot_run "no kernel line under TCG either: $(tail -n 3 "$run/qemu.log")"
    accel=tcg
fi
say "guest booting under $accel"

# Until QEMU ends: the guest's request to pull the adapter out goes to the monitor.
pulled=
deadline=$((SECONDS + guest_limit))
while kill -0 "$qemu_pid" 2> /dev/null; do
    if [[ -z $pulled ]] && grep -q 'hydrix-guest: pull the adapter' "$run/console"; then
        echo "device_del ftdi" > "$run/monitor.in"
        pulled=1
    fi
    if ((SECONDS > deadline)); then
        say "the guest did not finish within $guest_limit s"
        stop_qemu
        break
    fi
    sleep 0.05
done
qemu_pid=

echo "--- guest console"
grep -a 'hydrix-guest:' "$run/console" | tr -d '\r' || true
if [[ -s $work/figures ]]; then
    echo "--- figures"
    cat "$work/figures"
fi
say "wall time $((SECONDS - started)) s, accelerator $accel"
passed=$(grep -c '^PASS' "$work/results" 2> /dev/null || true)
failed=$(grep -c '^FAIL' "$work/results" 2> /dev/null || true)
if [[ ${failed:-0} -gt 0 || ${passed:-0} -lt 5 ]]; then
    echo "--- guest log"
    cat "$work/guest.log" 2> /dev/null || true
    echo "--- console"
    tail -n 40 "$run/console" | tr -d '\r'
    echo "${passed:-0} passed, ${failed:-0} failed"
    exit 1
fi
echo "${passed} passed, 0 failed"
