#!/usr/bin/env bash
# The naming convention's acronym rule: ID, URL, UUID and API are written in capitals inside
# identifiers (deviceID, apiBaseURL, APIClient, makeUUIDString). Exceptions: library names (Qt's QUrl,
# setUrl, QUuid::createUuid, QProcess::processId()) and the upload job's projectId / meetingId family,
# whose names are the keys of the stored upload queue and settings. Prints each offending identifier;
# exits 1 if there is one.
# The case rules (types, functions, members, constants) are checked by clang-tidy: scripts/tidy.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
find src tools bench tests -name '*.h' -o -name '*.cpp' | sort |
    xargs perl -ne '
        s/"(?:\\.|[^"\\])*"//g;
        s/\x27(?:\\.|[^\x27\\])*\x27//g;
        while (/\b([A-Za-z_]\w*)\b(\(?)/g) {
            my ($name, $call) = ($1, $2);
            next unless $name =~ /(?:Id|Url|Uuid|Api)(?=[A-Z0-9_]|$)/;
            next if $name =~ /^(?:Q[A-Z]\w*|setUrl|openUrl|createUuid|machineUniqueId|\w*(?:projectId|meetingId|ProjectId|MeetingId)\w*)$/;
            next if $name eq "processId" && $call;
            print "$ARGV:$.: $name\n";
            $bad = 1;
        }
        close ARGV if eof;
        END { exit($bad ? 1 : 0) }'
