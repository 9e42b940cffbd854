# Shared by wayland.sh and tray-sni.sh (sourced after xsession.sh, whose started_pids,
# wait_until and stop_session it uses): a private D-Bus session bus, a StatusNotifier watcher on
# it with a registered host, and calls on the program's StatusNotifierItem and its
# com.canonical.dbusmenu menu through gdbus.

# The program must talk to the private bus only, and must not start an accessibility bus on it.
export NO_AT_BRIDGE=1 QT_ACCESSIBILITY=0
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON

sni_watcher=org.kde.StatusNotifierWatcher
sni_watcher_path=/StatusNotifierWatcher

# start_bus DIR: a session bus of its own, listening on DIR/bus, that starts no services (so no
# process outside started_pids is ever activated). Sets DBUS_SESSION_BUS_ADDRESS.
start_bus() {
    local dir=$1
    cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    : >"$dir/bus.address"
    dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile --print-address=3 \
        3>"$dir/bus.address" >"$dir/bus.log" 2>&1 &
    started_pids+=($!)
    wait_until 10 test -s "$dir/bus.address" || { echo "dbus-daemon did not start" >&2; return 1; }
    export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$dir/bus.address")
}

# bus_call DEST PATH METHOD ARGS...: one gdbus call on the private bus, its reply on stdout.
bus_call() {
    local dest=$1 path=$2 method=$3
    shift 3
    gdbus call --session --timeout 5 --dest "$dest" --object-path "$path" --method "$method" "$@"
}

# name_owned NAME: someone owns NAME on the bus.
name_owned() {
    bus_call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "$1" |
        grep -q true
}

# start_watcher DIR: status-notifier-watcher on the bus (pid in watcher_pid and started_pids).
start_watcher() {
    local dir=$1
    status-notifier-watcher >"$dir/watcher.log" 2>&1 &
    watcher_pid=$!
    started_pids+=($watcher_pid)
    wait_until 10 name_owned "$sni_watcher" || { echo "the watcher did not come up" >&2; return 1; }
}

# register_host: a StatusNotifier host as a panel would register itself; from now on programs
# that start find a notification area on the bus.
register_host() {
    bus_call "$sni_watcher" "$sni_watcher_path" "$sni_watcher.RegisterStatusNotifierHost" \
        "org.kde.StatusNotifierHost-orvane-test-$$" >/dev/null &&
        watcher_property IsStatusNotifierHostRegistered | grep -q true
}

# watcher_property NAME: a property of the watcher, as gdbus prints it.
watcher_property() {
    bus_call "$sni_watcher" "$sni_watcher_path" org.freedesktop.DBus.Properties.Get \
        "$sni_watcher" "$1"
}

# sni_item: "SERVICE PATH" of the first registered item (Qt registers "SERVICE" with the object
# at /StatusNotifierItem; others register "SERVICE/PATH" or a bare path).
sni_item() {
    local entry service path
    entry=$(watcher_property RegisteredStatusNotifierItems | grep -o "'[^']*'" | head -n1 | tr -d "'")
    [[ -n $entry ]] || return 1
    if [[ $entry == */* ]]; then
        service=${entry%%/*}
        path=/${entry#*/}
    else
        service=$entry
        path=/StatusNotifierItem
    fi
    echo "$service $path"
}

# no_sni_item: no item is registered.
no_sni_item() {
    ! sni_item >/dev/null
}

# item_property NAME: a property of the registered item.
item_property() {
    local service path
    read -r service path < <(sni_item) || return 1
    bus_call "$service" "$path" org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"
}

# item_activate: what a left click on the item in a panel does.
item_activate() {
    local service path
    read -r service path < <(sni_item) || return 1
    bus_call "$service" "$path" org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
}

# menu_layout: the item's menu (com.canonical.dbusmenu GetLayout of the root, all levels).
menu_layout() {
    local service path menu
    read -r service path < <(sni_item) || return 1
    menu=$(item_property Menu | grep -o "'/[^']*'" | tr -d "'")
    [[ -n $menu ]] || return 1
    bus_call "$service" "$menu" com.canonical.dbusmenu.GetLayout 0 -- -1 '[]'
}

# menu_entries: "ID<tab>LABEL" for each entry of the item's menu that has a label, in their
# order; the label as gdbus prints it (a shortcut follows a literal "\t"), the mnemonic mark
# "_" removed.
menu_entries() {
    menu_layout | grep -o "<([0-9]*, {[^}]*'label': <'[^']*'>" |
        sed "s/^<(\([0-9]*\), .*'label': <'\([^']*\)'>\$/\1\t\2/; s/_//"
}

# menu_labels: the labels of the menu's entries, one a line, in their order.
menu_labels() {
    menu_entries | cut -f2-
}

# menu_click LABEL: sends "clicked" to the entry whose label (shortcut left aside) is LABEL.
menu_click() {
    local label=$1 service path menu id
    read -r service path < <(sni_item) || return 1
    menu=$(item_property Menu | grep -o "'/[^']*'" | tr -d "'")
    id=$(menu_entries | awk -F '\t' -v want="$label" '{ sub(/\\t.*/, "", $2) } $2 == want { print $1; exit }')
    [[ -n $id ]] || return 1
    bus_call "$service" "$menu" com.canonical.dbusmenu.Event "$id" clicked '<0>' 0 >/dev/null
}

# item_tip_is_title: the item's tooltip (its title part) is the program's title.
item_tip_is_title() {
    item_property ToolTip | grep -qF "'Orvane v 1.1 XP'"
}

# menu_opens_with_open: the first entry of the item's menu is Open.
menu_opens_with_open() {
    [[ $(menu_labels | head -n1) == Open ]]
}
