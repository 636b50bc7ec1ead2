#!/usr/bin/python3
"""A DNS server of the tests' own, on UDP port 53 of one address:

    dns_responder.py ADDRESS answer|drop NAME=IPV4...

"answer" gives each NAME its A record and each address its PTR record, and
NXDOMAIN for any other name; "drop" reads every query and answers none, as
a dead server (or a firewall that drops) does. Prints "ready" once bound.
"""
import socket
import struct
import sys


def labels(data, i):
    """The name at offset i (no compression: queries carry none) and the
    offset after it."""
    parts = []
    while i < len(data) and data[i] != 0:
        n = data[i]
        parts.append(data[i + 1:i + 1 + n].decode('ascii', 'replace'))
        i += 1 + n
    return '.'.join(parts).lower(), i + 1


def encode(name):
    out = b''
    for part in name.split('.'):
        out += bytes([len(part)]) + part.encode('ascii')
    return out + b'\0'


def main():
    address, mode = sys.argv[1], sys.argv[2]
    forward, reverse = {}, {}
    for pair in sys.argv[3:]:
        name, ip = pair.split('=')
        forward[name.lower()] = socket.inet_aton(ip)
        reverse['.'.join(reversed(ip.split('.'))) + '.in-addr.arpa'] = name
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((address, 53))
    print('ready', flush=True)
    while True:
        query, peer = s.recvfrom(512)
        if mode == 'drop' or len(query) < 12:
            continue
        qid, _, qdcount = struct.unpack('!HHH', query[:6])
        if qdcount != 1:
            continue
        name, end = labels(query, 12)
        qtype = struct.unpack('!H', query[end:end + 2])[0]
        question = query[12:end + 4]
        answers = []
        if qtype == 1 and name in forward:
            answers.append((1, forward[name]))
        elif qtype == 12 and name in reverse:
            answers.append((12, encode(reverse[name])))
        known = name in forward or name in reverse
        flags = 0x8180 if known else 0x8183  # response, recursion; NXDOMAIN
        reply = struct.pack('!HHHHHH', qid, flags, 1, len(answers), 0, 0) + question
        for rtype, rdata in answers:
            reply += struct.pack('!HHHIH', 0xC00C, rtype, 1, 60, len(rdata)) + rdata
        s.sendto(reply, peer)


main()
