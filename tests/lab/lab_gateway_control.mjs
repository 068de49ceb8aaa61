// Steers the lab's home gateway (lab_gateway.mjs, started by `scripts/lab up`) from a lab test
// while the program under test runs: its users, sessions, lockout, certificate, whether it
// answers, its MAC, and the requests it received. Every function resolves once the gateway has
// done it. A suite that changes the gateway calls resetGateway() (and setGatewayMac(labGatewayMac)
// if it changed the MAC) before the next test relies on the defaults: user admin with password
// lab-password and no two-factor code, sessions of two hours.
import http from 'node:http';
import { lab } from './in_lab.mjs';

export const gatewayAddress = '192.168.1.1';
export const labGatewayMac = '02:5a:00:00:00:01';
const socketPath = '/run/qlab/gateway.sock';

function call(method, path, body) {
  return new Promise((resolve, reject) => {
    const req = http.request({ socketPath, method, path, headers: { 'Content-Type': 'application/json' } }, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (chunk) => (text += chunk));
      res.on('end', () => {
        const value = JSON.parse(text);
        if (res.statusCode === 200) resolve(value);
        else reject(new Error(`lab gateway ${method} ${path}: ${value.error}`));
      });
    });
    req.on('error', reject);
    req.end(body === undefined ? undefined : JSON.stringify(body));
  });
}

// Replaces what is given: users ([{ username, password, mfaCode?, email? }]; with an mfaCode a
// sign-in needs that code as its "token"), system (fields of GET /api/system: name, shortname,
// mac, deviceState, cloudConnected, hasInternet; mac null follows lan0 again) and sessionSeconds
// (the lifetime of sessions issued from now on).
export const configureGateway = ({ users, system, sessionSeconds } = {}) =>
  call('POST', '/configure', { users, system, sessionSeconds });

// Every session issued so far stops verifying (GET /api/users/self answers 401).
export const expireSessions = () => call('POST', '/expire-sessions');

// Forgets every wrong password, which ends a lockout.
export const resetLockout = () => call('POST', '/reset-lockout');

// Serves a new self-signed certificate (new key, same names) and closes open connections, unless
// keepConnections, so that the next request sees it. Resolves with its SHA-256 fingerprint
// ("AB:CD:...").
export const swapCertificate = ({ keepConnections = false } = {}) =>
  call('POST', '/certificate', { keepConnections }).then((r) => r.fingerprint256);

// Stops answering without going away. stage 'connect': new connections are accepted and never get
// a TLS handshake, requests on open ones get no answer. stage 'request': requests (those whose
// path starts with `path`, or all) are read and never answered, as a gateway that dies mid-request;
// stopGateway() then drops them, as one that goes away mid-sign-in.
export const hangGateway = ({ stage = 'connect', path } = {}) => call('POST', '/hang', { stage, path });

// The gateway's web server goes away: it stops listening and drops every connection, so a new one
// is refused (the gateway still routes and answers pings).
export const stopGateway = () => call('POST', '/go-away');

// Serves again after hangGateway or stopGateway; connections a hang held are dropped.
export const resumeGateway = () => call('POST', '/resume');

// Default users, system and session lifetime, no lockout, no live sessions, an empty request log,
// serving. The certificate stays.
export const resetGateway = () => call('POST', '/reset');

// The requests received since the start or the last clearGatewayRequests(), in order:
// { seq, time, connection, remotePort, method, path, headers, body, status }. connection numbers
// the TCP connection (two requests with one number came on one connection, and so with the same
// remotePort); headers are Node's (lower-case names); status is null while unanswered.
export const gatewayRequests = () => call('GET', '/requests');
export const clearGatewayRequests = () => call('DELETE', '/requests');

// { mode: { kind: 'serve' | 'hang' | 'away', stage?, path? }, fingerprint256, users, locked,
//   connections (open now), sessionSeconds }
export const gatewayState = () => call('GET', '/state');

// Gives the gateway's LAN side a new MAC; the client's neighbour entry follows (the gateway
// announces the change with a gratuitous ARP).
export const setGatewayMac = (mac) => lab('gateway-mac', mac);
