"""aiosmtpd handler for the feedback mail tests.

Records each accepted message (envelope and the exact data bytes) into
FOLDER/message.json. A file named refuse-ehlo or refuse-rcpt in FOLDER makes
the server refuse EHLO (502) or every recipient (550).

    python3 -m aiosmtpd -n -l 127.0.0.1:PORT -c smtp_recorder.Recorder FOLDER
"""

import base64
import json
import os


class Recorder:
    def __init__(self, folder):
        self.folder = folder

    @classmethod
    def from_cli(cls, parser, *args):
        if len(args) != 1:
            parser.error("Recorder takes one argument: the folder to record into")
        return cls(args[0])

    def _flag(self, name):
        return os.path.exists(os.path.join(self.folder, name))

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        if self._flag("refuse-ehlo"):
            return ["502 5.5.1 EHLO not implemented"]
        session.host_name = hostname
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self._flag("refuse-rcpt"):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        record = {
            "helo": session.host_name,
            "extended": session.extended_smtp,
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "data": base64.b64encode(envelope.original_content).decode("ascii"),
        }
        path = os.path.join(self.folder, "message.json")
        with open(path + ".part", "w") as out:
            json.dump(record, out)
        os.replace(path + ".part", path)
        return "250 2.0.0 Message accepted for delivery"
