// The services of the lab's far end, for service probes: run in the dest namespace by
// scripts/lab. Web sites on 198.18.0.10 (www.lab.test: HTTP, and HTTPS with a certificate from
// the lab's CA), 198.18.0.11 (selfsigned.lab.test) and 198.18.0.12 (expired.lab.test: the
// lab CA's certificate that ran out in 2021), a game server's TCP port on 198.18.0.13
// (game.lab.test:27015; 27016 is closed), the STUN server on 198.18.0.20
// (stun.lab.test:3478, lab_stun.mjs), a second one on 198.18.0.22 (stun-nat.lab.test) that
// reports 203.0.113.2 as if the carrier's NAT had translated the client's address, and an
// IP-information service over HTTPS on 198.18.0.21 (geo.lab.test) that places a few lab
// addresses.
//
// Paths: / answers 200 with a small page; /status/N answers N; /loop redirects to itself;
// /slow answers after 300 ms. The information service answers GET /ADDRESS/json with the
// place of the addresses in `places` and 404 for the rest.
//
//   node lab_services.mjs CERT_DIR
import fs from "node:fs";
import http from "node:http";
import https from "node:https";
import net from "node:net";
import path from "node:path";
import { startStun } from "./lab_stun.mjs";

const certs = process.argv[2];
const read = (name) => fs.readFileSync(path.join(certs, name));

function answer(req, res) {
  const url = new URL(req.url, "http://lab");
  const status = /^\/status\/(\d{3})$/.exec(url.pathname);
  if (status) {
    res.writeHead(Number(status[1]), { "Content-Type": "text/plain" });
    res.end(`status ${status[1]}\n`);
  } else if (url.pathname === "/loop") {
    res.writeHead(302, { Location: "/loop" });
    res.end();
  } else if (url.pathname === "/slow") {
    setTimeout(() => res.end("slow\n"), 300);
  } else {
    res.writeHead(200, { "Content-Type": "text/html" });
    res.end(
      "<!doctype html><title>Lab</title><p>" + "lab ".repeat(256) + "</p>\n",
    );
  }
}

// What the lab's information service knows: the address stun-nat.lab.test reports, the ISP's
// first router (about 165 miles from it) and www.lab.test (about 54 miles).
const places = {
  "203.0.113.2": { city: "Labton", region: "Lab Valley", country: "ZZ", loc: "45.5152,-122.6784" },
  "203.0.113.1": { city: "Farfield", region: "Lab Coast", country: "ZZ", loc: "47.6062,-121.0" },
  "198.18.0.10": { city: "Serverville", region: "Lab Valley", country: "ZZ", loc: "45.0,-123.5" },
};

function geoAnswer(req, res) {
  const match = /^\/([0-9.]+)\/json$/.exec(new URL(req.url, "https://lab").pathname);
  const place = match && places[match[1]];
  if (!place) {
    res.writeHead(404, { "Content-Type": "application/json" });
    res.end('{"error":{"title":"Wrong ip","message":"Please provide a valid IP address"}}');
    return;
  }
  res.writeHead(200, { "Content-Type": "application/json" });
  res.end(
    JSON.stringify({
      ip: match[1],
      ...place,
      org: "AS64500 LAB-ISP Lab Broadband",
      timezone: "Etc/UTC",
    }),
  );
}

const listening = [];
const listen = (server, port, host) =>
  listening.push(new Promise((resolve) => server.listen(port, host, resolve)));

listen(http.createServer(answer), 80, "198.18.0.10");
for (const [host, name] of [
  ["198.18.0.10", "www"],
  ["198.18.0.11", "selfsigned"],
  ["198.18.0.12", "expired"],
]) {
  listen(
    https.createServer(
      { key: read(`${name}.key`), cert: read(`${name}.pem`) },
      answer,
    ),
    443,
    host,
  );
}
listen(
  net.createServer((socket) => socket.end()),
  27015,
  "198.18.0.13",
);

listen(
  https.createServer({ key: read("geo.key"), cert: read("geo.pem") }, geoAnswer),
  443,
  "198.18.0.21",
);

listening.push(startStun("198.18.0.20", 3478));
listening.push(startStun("198.18.0.22", 3478, "203.0.113.2"));

await Promise.all(listening);
console.log("lab services ready");
