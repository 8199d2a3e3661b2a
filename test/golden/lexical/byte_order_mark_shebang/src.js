#!/usr/bin/env node
x;
