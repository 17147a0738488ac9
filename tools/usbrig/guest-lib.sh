# Helpers for the rig's commands inside the guest (sourced; bash).

# The ttyUSB name of the adapter with this USB serial number, waiting up to $2 s for
# the driver and udev to have made it (its number may change on every plug).
port_of() {
  local serial=$1 limit=${2:-30} t start=$SECONDS
  while :; do
    for t in /sys/bus/usb-serial/devices/ttyUSB*; do
      [ -e "$t" ] || continue
      if [ "$(cat "$(readlink -f "$t")/../../serial" 2>/dev/null)" = "$serial" ] &&
         [ -e "/dev/$(basename "$t")" ]; then
        udevadm settle --timeout=10
        basename "$t"
        return 0
      fi
    done
    [ $((SECONDS - start)) -ge "$limit" ] && return 1
    sleep 0.1
  done
}

# Waits up to $2 s until the adapter with USB serial number $1 is the only one of
# its VID:PID (0403:6001) that has a port: the others' pulls take a while to finish.
only_adapter() {
  local serial=$1 limit=${2:-30} t dev others start=$SECONDS
  while :; do
    others=0
    for t in /sys/bus/usb-serial/devices/ttyUSB*; do
      [ -e "$t" ] || continue
      dev=$(readlink -f "$t")/../..
      [ "$(cat "$dev/idVendor" "$dev/idProduct" 2>/dev/null | tr '\n' :)" = "0403:6001:" ] &&
        [ "$(cat "$dev/serial" 2>/dev/null)" != "$serial" ] && others=$((others + 1))
    done
    [ "$others" -eq 0 ] && return 0
    [ $((SECONDS - start)) -ge "$limit" ] && return 1
    sleep 0.1
  done
}

# Waits up to $2 s until /dev/$1 is gone.
wait_gone() {
  local start=$SECONDS
  while [ -e "/dev/$1" ]; do
    [ $((SECONDS - start)) -ge "${2:-30}" ] && return 1
    sleep 0.05
  done
}

# user+system CPU ticks of a process so far (fields 14 and 15 of its stat line).
cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  set -- $stat
  echo $(( ${12} + ${13} ))
}

# The wall-clock time (hh:mm:ss.mmm) of the kernel's latest "USB disconnect": the
# moment the guest learnt of a pull, before the driver tore the port down.
last_disconnect() {
  dmesg --time-format iso | grep 'USB disconnect' | tail -n 1 | sed -E 's/^[0-9-]+T([0-9:]+),([0-9]{3}).*/\1.\2/'
}
