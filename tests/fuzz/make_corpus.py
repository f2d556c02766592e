#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz harnesses into corpus/<name>/: normal
inputs and the edge cases the parsers must survive. Other files there
(regressions found by fuzzing) are left alone."""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent
le32 = struct.Struct("<I").pack
MARKER = le32(7) + b"Message" + le32(0)


def frame(headers, body=b"", marker=True):
    return (MARKER if marker else b"") + le32(len(headers)) + headers + le32(len(body)) + body


def write(name, seeds):
    directory = HERE / "corpus" / name
    directory.mkdir(parents=True, exist_ok=True)
    for seed_name, data in seeds.items():
        (directory / seed_name).write_bytes(data)


write("server_message", {
    "logon_reply": b"Response: user/logon\r\nStatus: LoggedIn\r\n",
    "server_request": b"Response: request/validation\r\nRequest: video/stream\r\nCid: 3\r\n",
    "blanks_and_colons": b"Response:  user/profile \t\r\nTime: 12:30\r\nEmpty:\r\n:value\r\nKey: v:\r\n",
    "empty_line_ends_block": b"Response: a\r\nStatus: OK\r\n\r\nLate: x\r\n",
    "no_final_line_end": b"Response: a\r\nStatus: OK",
    "repeated_key": b"Response: video/stream\r\nStatus: A\r\nStatus: B\r\nSize: 640x480\r\n",
    "binary": bytes(range(256)),
})

headers = b"Response: user/logon\r\nStatus: OK\r\n"
write("message_reader", {
    "one_message": b"\x00" + frame(headers, b"<r/>"),
    "junk_then_message": b"\x00" + b"xx" + frame(headers, b"<r/>"),
    "partial_marker": b"\x00" + MARKER[:9] + frame(b"Response: ping\r\n"),
    "header_length_zero": b"\x00" + MARKER + le32(0) + frame(headers),
    "header_length_too_big": b"\x00" + MARKER + le32(0x100000) + b"abcd",
    "header_600_bytes": b"\x00" + MARKER + le32(600) + b"R" * 600 + le32(4) + b"body" + frame(headers),
    "empty_body": b"\x00" + frame(b"Response: video/stream\r\nCid: 1\r\n"),
    "body_length_too_big": b"\x00" + MARKER + le32(len(headers)) + headers + le32(0xFFFFFFFF),
    "truncated_body": b"\x00" + MARKER + le32(len(headers)) + headers + le32(1000) + b"abc",
    "level2_two_messages": b"\x01" + frame(headers, b"x", False) + frame(b"Response: b\r\n", b"", False),
    "level2_garbage": b"\x01" + b"\xff\xff\xff\xff" * 4,
})


def session(flags, headers, body):
    return bytes([flags]) + headers + b"\x00" + body


profile = (b'<Profile name="service"><Cameras><Camera state="OK" pid="a"/>'
           b'<PtzCamera state="offline" pid="b"/><PtzCamera state="NoSignal" pid="c"/>'
           b'<Camera pid="d"/></Cameras><DigitalInputs><DigitalInput pid="in-1"/>'
           b'<DigitalInput/></DigitalInputs><DigitalOutputs><DigitalOutput pid="out-1"/>'
           b'</DigitalOutputs></Profile>')
properties = (b'<PtzControl actions="Zoom,Focus,AreaZoom" timeout="30"><Presets>'
              b'<Preset>Door</Preset><Preset/><Preset>Gate</Preset></Presets></PtzControl>')
write("session_xml", {
    "authenticate": session(0, b"DigestKey: 0123456789ABCDEF\r\n", b""),
    "logon": session(1, b"Status: LoggedIn\r\n",
                     b'<Session><RealtimeStreams max="8 streams"/><Profiles><Name>service</Name>'
                     b'<Name>night</Name><Name/></Profiles></Session>'),
    "logon_refused": session(1, b"Status: InvalidPassword\r\n", b"not xml"),
    "profile_named": session(6, b"", profile),
    "profile_unnamed": session(2, b"", profile.replace(b'name="service"', b'name=""')),
    "profile_nested": session(6, b"", b'<?xml version="1.0" encoding="ISO-8859-1"?>'
                              b'<Profile name="service"><a><b><PtzCamera state="ok" pid="\xe4"/>'
                              b'</b></a></Profile>'),
    "ptz_properties": session(3, b"Pid: cam-1\r\n", properties),
    "ptz_properties_after_profile": session(7, b"Pid: cam-1\r\n", properties),
    "ptz_properties_no_actions": session(3, b"Pid: cam\r\n",
                                         b'<PtzControl timeout="-5"><Presets><Preset>P</Preset>'
                                         b'</Presets></PtzControl>'),
    "server_request_raw": session(8, b"Response: request/validation\r\nRequest: camera/ptz/properties"
                                  b"\r\nPid: cam-1\r\n", properties),
})

write("capability_string", {
    "written": b"Pan=1, Tilt=1, Zoom=1, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=16"
               b"\x00Tilt\x00=\x00, \t\r\n",
    "short": b"Pan=1, Tilt=0, Zoom=1, Preset=8\x00Zoom\x00=\x00,",
    "areazoom_first": b"AreaZoom=1,Zoom=0\x00Zoom\x00=\x00, ",
    "value_at_end": b"Pan=1,Preset=\x00Preset\x00=\x00,",
    "version_line": b"Response: user/authenticate\r\nServer: Gateway Kalmeno 3.0\r\nKalmeno 3.0\r\n"
                    b"\x00Kalmeno\x00 \x00\r\n",
    "words": b"Pan=true, Tilt = 1 ,Center=1,Unzoom=1\x00 Tilt \x00==\x00\t",
    # Regression: a key beginning with a separator made the lookup loop for ever.
    "regression_key_starts_with_separator": b"a,b,c\x00,\x00=\x00,",
})


def custom(channels, inputs, outputs, params):
    return bytes([channels, inputs, outputs]) + b"\n".join(params)


write("custom_parameters", {
    "lists": custom(4, 1, 1, [b"1", b"3", b"5;pidA;1;Pan=1, Tilt=1, Zoom=0, Preset=8", b"(none)",
                              b"6;pidB;1;", b"7;pidC;0;Pan=0", b"0;in-1", b"2;out-9"]),
    "no_thread": custom(2, 0, 0, [b"0", b"0", b"1;cam;1;Pan=1", b"2;cam2;0;x"]),
    "odd_pieces": custom(3, 2, 1, [b"x", b"-3", b";;;", b"1;a;b;c;d", b" -7;p;+1;Preset=99999999999",
                                   b"0;", b";in", b"a;b;c"]),
    "nothing": custom(0, 0, 0, []),
})

write("settings", {
    "sections": b"""<?xml version="1.0"?>
<Configuration>
  <Common>
    <Profile>service</Profile>
    <LogLevel>4</LogLevel>
    <DebugEnabled>no</DebugEnabled>
    <Resolutions><Item>704x576</Item><Item>640X480</Item><Item>352x288x2</Item><Item>x240</Item></Resolutions>
    <VideoChannel id="2"><StreamType>motion</StreamType></VideoChannel>
  </Common>
  <Gateway address="10.0.0.5" port="8080">
    <Profile> night </Profile>
    <LogLevel> 3</LogLevel>
    <VideoChannel id="1"><StreamType>motion</StreamType></VideoChannel>
    <VideoChannel><StreamType>Motion</StreamType></VideoChannel>
  </Gateway>
</Configuration>
""",
    "common_only": b"<Configuration><Common><DebugEnabled>yes</DebugEnabled></Common></Configuration>",
    "malformed": b"<Configuration><Common><Profile>x</Common>",
    "two_roots": b"<Configuration/><Configuration/>",
    "empty": b"",
})
