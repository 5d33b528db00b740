#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The build installed into a staging root: the files a desktop application with a system
# service ships and nothing else, an application folder that works wherever it is copied, and
# the Debian package made of the same files, clean under lintian.
source "$VB_SOURCE_DIR/tests/install/staging.sh"
trap stage_cleanup EXIT

check "cmake --install into a staging root" stage_install
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
app="usr/lib/$triplet/verdant-ball"
check "application folder under the library directory" [ "$STAGE_APPDIR" = "$STAGE/$app" ]

expected=(
  "$app/verdant-ball-host" "$app/libvdshelper.so" "$app/libverdantball.so" "$app/pulsar.app"
  "$app/BallSkins/Night.Sky/main.qml" "$app/BallSkins/Night.Sky/icon.png" "$app/wfp/x64/filterd"
  "$app/translations/verdantball_de.qm" usr/bin/verdant-ball
  usr/share/applications/verdant-ball.desktop etc/xdg/autostart/verdant-ball.desktop
  usr/share/icons/hicolor/scalable/apps/verdant-ball.svg lib/systemd/system/pswfp.service
  usr/share/man/man1/verdant-ball.1.gz usr/share/doc/verdant-ball/copyright
  usr/share/doc/verdant-ball/changelog.gz
  usr/share/polkit-1/actions/org.verdantsuite.ball.release-memory.policy)
for f in "${expected[@]}"; do check "installs /$f" [ -e "$STAGE/$f" ]; done
for s in 16 22 24 32 48 64 128 256; do
  png="$STAGE/usr/share/icons/hicolor/${s}x$s/apps/verdant-ball.png"
  check "icon of $s px is $s x $s" bash -c "file '$png' | grep -q 'PNG image data, $s x $s,'"
done
# Nothing beyond what the package means to ship (no headers, archives, build leftovers).
stray=$(cd "$STAGE" && find . -type f -o -type l | sed 's|^\./||' | grep -Ev \
  "^($app/|usr/bin/verdant-ball$|usr/share/(applications|man/man1|doc/verdant-ball)/|usr/share/icons/hicolor/[^/]+/apps/verdant-ball\.(png|svg)$|etc/xdg/autostart/verdant-ball\.desktop$|lib/systemd/system/pswfp\.service$|usr/share/polkit-1/actions/org\.verdantsuite\.ball\.release-memory\.policy$)")
check "no stray files${stray:+: $stray}" [ -z "$stray" ]
check "only the two libraries and two programs are binaries" [ "$(cd "$STAGE" && find . -type f -exec file {} + | grep -c ELF)" -eq 4 ]

# The command on the PATH and the entries.
check "verdant-ball is a relative link to the host" \
  bash -c "[ \"\$(readlink '$STAGE/usr/bin/verdant-ball')\" = '../lib/$triplet/verdant-ball/verdant-ball-host' ] && [ -x '$STAGE/usr/bin/verdant-ball' ]"
for d in usr/share/applications/verdant-ball.desktop etc/xdg/autostart/verdant-ball.desktop; do
  check "$d is a valid desktop entry" desktop-file-validate "$STAGE/$d"
  check "$d runs the command on the PATH" grep -qx 'Exec=verdant-ball' "$STAGE/$d"
done
check "the menu entry's icon is in the theme" grep -qx 'Icon=verdant-ball' "$STAGE/usr/share/applications/verdant-ball.desktop"
check "unit runs the packaged service, path quoted" \
  grep -qx "ExecStart=\"/$app/wfp/x64/filterd\" --state-dir /var/lib/verdant-ball" "$STAGE/lib/systemd/system/pswfp.service"

# Relocatable: run paths relative to the binary, and copies that work without their origin.
for f in verdant-ball-host libvdshelper.so libverdantball.so; do
  rp=$(readelf -d "$STAGE_APPDIR/$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  check "$f: run path \$ORIGIN only (is '$rp')" [ "$rp" = '$ORIGIN' ]
done
rp=$(readelf -d "$VB_BIN_DIR/verdant-ball-host" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
check "build tree host: no absolute run path (is '$rp')" bash -c "! grep -q '/' <<<'${rp//\$ORIGIN/}'"
for from in "$STAGE_APPDIR" "$VB_BIN_DIR"; do
  copy="$STAGE_TMP/copy"
  rm -rf "$copy" && mkdir -p "$copy"
  cp "$from/verdant-ball-host" "$from/libvdshelper.so" "$from/libverdantball.so" "$copy/"
  check "copy of $from finds its helper library beside itself" \
    bash -c "ldd '$copy/verdant-ball-host' | grep -q 'libvdshelper.so => $copy/libvdshelper.so'"
  check "copy of $from starts" env QT_QPA_PLATFORM=offscreen "$copy/verdant-ball-host" --help >/dev/null
done

# The Debian package: the same files, computed dependencies, maintainer scripts, lintian.
deb=$(stage_deb)
check "cpack -G DEB builds one package" [ -f "$deb" ]
if [ -f "$deb" ]; then
  dpkg-deb -I "$deb"
  in_deb=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort)
  in_stage=$(cd "$STAGE" && find . -type f -o -type l | sed 's|^\./||' | sort)
  check "package holds exactly the staged files" [ "$in_deb" = "$in_stage" ]
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libqt6quick6 libqt6gui6 libbpf1 libboost-thread1.74.0 libxcb1 libc6 init-system-helpers qml6-module-qtquick; do
    check "depends on $lib" grep -q "\\b$lib\\b" <<<"$depends"
  done
  ctl="$STAGE_TMP/control"
  dpkg-deb -e "$deb" "$ctl"
  for s in postinst prerm postrm; do check "maintainer script $s" [ -x "$ctl/$s" ]; done
  check "autostart entry is a conffile" grep -qx /etc/xdg/autostart/verdant-ball.desktop "$ctl/conffiles"
  check "package files belong to root" bash -c "! dpkg-deb -c '$deb' | awk '{print \$2}' | grep -v '^root/root$'"
  echo "--- lintian"
  lintian --tag-display-limit 0 "$deb" >"$STAGE_TMP/lintian.log" 2>&1
  lrc=$?
  cat "$STAGE_TMP/lintian.log"
  check "lintian: no errors or warnings" bash -c "[ $lrc -eq 0 ] && ! grep -q '^[EW]:' '$STAGE_TMP/lintian.log'"
fi
vb_finish
