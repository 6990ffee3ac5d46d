#!/usr/bin/env bash
# Writes a Config.xml that points Tallowdesk at a local document service.
# Usage: write-local-config.sh CONFIG_FILE PORT CA_FILE
set -euo pipefail
file=$1 port=$2 ca=$3
mkdir -p "$(dirname "$file")"
cat >"$file" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<configure>
    <user>
        <email></email>
        <password></password>
    </user>
    <fileautoconvert>false</fileautoconvert>
    <autoupdatecheck>false</autoupdatecheck>
    <docshost>localhost:$port</docshost>
    <accountshost>localhost:$port</accountshost>
    <updatehost>localhost:$port</updatehost>
    <homehost>localhost:$port</homehost>
    <cafile>$ca</cafile>
</configure>
XML
