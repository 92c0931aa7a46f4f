#!/usr/bin/env bash
echo "nothing to run yet"
