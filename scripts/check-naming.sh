#!/usr/bin/env bash
# The naming convention's acronym rule: ID, URL, UUID, JSON, HTTP and API are written in capitals inside
# identifiers (deviceID, apiBaseURL, HTTPTransport, fromJSON). Exceptions: library names (Qt's QUrl,
# QJsonDocument::toJson) and the upload job's projectId / meetingId family, whose names are the keys
# of the stored upload queue and settings. Prints each offending identifier; exits 1 if there is one.
# The case rules (types, functions, members, constants) are checked by clang-tidy: scripts/tidy.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
find src tools bench tests -name '*.h' -o -name '*.cpp' | sort |
    xargs perl -ne '
        next if /QJsonDocument/;
        s/"(?:\\.|[^"\\])*"//g;
        s/\x27(?:\\.|[^\x27\\])*\x27//g;
        while (/\b([A-Za-z_]\w*)\b/g) {
            my $name = $1;
            next unless $name =~ /(?:Id|Url|Uuid|Json|Http|Api)(?=[A-Z0-9_]|$)/;
            next if $name =~ /^(?:Q[A-Z]\w*|HttpStatusCodeAttribute|\w*(?:projectId|meetingId|ProjectId|MeetingId)\w*)$/;
            print "$ARGV:$.: $name\n";
            $bad = 1;
        }
        close ARGV if eof;
        END { exit($bad ? 1 : 0) }'
