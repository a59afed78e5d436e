#!/bin/sh
# notarize.sh APP [PACKAGE]: has Apple's notary service check the package, or,
# without one, the application zipped, then staples the ticket to what is
# shipped, so that Gatekeeper accepts it offline. The keychain profile named by
# VELTRIN_NOTARY_PROFILE holds the credentials (xcrun notarytool store-credentials).
#
# The service accepts only Developer ID signatures; anything else is refused
# here, before an upload that could only come back rejected.
app="$1"
package="$2"

refuse() { echo "notarize: $*" >&2; exit 1; }

[ -n "$VELTRIN_NOTARY_PROFILE" ] ||
    refuse "set VELTRIN_NOTARY_PROFILE to the keychain profile saved by 'xcrun notarytool store-credentials'"

# The first authority is the certificate that signed; the others are its issuers.
signer="$(codesign --display --verbose=2 "$app" 2>&1 | sed -n 's/^Authority=//p' | head -n 1)"
case "$signer" in
    "Developer ID Application: "*) ;;
    *) refuse "$app is not signed with a Developer ID Application identity (signed by: ${signer:-nobody});" \
        "configure with -DVELTRIN_CODESIGN_IDENTITY=\"Developer ID Application: ...\"" ;;
esac

if [ -n "$package" ]; then
    signer="$(pkgutil --check-signature "$package" 2>&1 | sed -n 's/^ *1\. //p' | head -n 1)"
    case "$signer" in
        "Developer ID Installer: "*) ;;
        *) refuse "$package is not signed with a Developer ID Installer identity (signed by: ${signer:-nobody});" \
            "configure with -DVELTRIN_INSTALLER_IDENTITY=\"Developer ID Installer: ...\"" ;;
    esac
    submitted="$package" stapled="$package"
else
    submitted="${app%.app}.zip" stapled="$app"
    ditto -c -k --keepParent "$app" "$submitted" || refuse "could not zip $app"
fi

# notarytool ends with status 0 once it has an answer, a rejection included:
# only the answer's status line tells.
answer="$(xcrun notarytool submit "$submitted" --keychain-profile "$VELTRIN_NOTARY_PROFILE" --wait)" ||
    refuse "the submission of $submitted failed"
echo "$answer"
if ! echo "$answer" | grep -q '^ *status: Accepted$'; then
    id="$(echo "$answer" | sed -n 's/^ *id: //p' | head -n 1)"
    refuse "the notary service did not accept $submitted; its reasons:" \
        "xcrun notarytool log ${id:-<submission id>} --keychain-profile \"$VELTRIN_NOTARY_PROFILE\""
fi
xcrun stapler staple "$stapled" || refuse "could not staple the ticket to $stapled"
