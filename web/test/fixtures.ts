// Message texts as the application writes them (compact, members in its order).

export const HEALTHY =
  '{"type":"networkState","overallStatus":"healthy","hops":[' +
  '{"hopNumber":1,"ip":"192.168.1.1","hostname":"router.home.arpa","rttMs":1.0,"loss":0.0,"jitter":0.5,"segment":"LOCAL"},' +
  '{"hopNumber":2,"ip":"100.64.0.1","asn":"64500","rttMs":10.0,"loss":12.5,"jitter":0.9,"segment":"ISP"},' +
  '{"hopNumber":3,"ip":"198.51.100.17","hostname":"ae3.bras2.example-cable.net","asn":"64500","asnName":"EXAMPLE-CABLE","rttMs":22.0,"loss":0.0,"jitter":2.0,"segment":"TRANS"},' +
  '{"hopNumber":4,"ip":"*","rttMs":0,"loss":100,"jitter":0,"segment":"?"}],' +
  '"publicIpInfo":{"ipAddress":"203.0.113.45","hostname":"cpe-45.example-cable.net","asn":"AS64500","ispName":"EXAMPLE-CABLE","port":53211},' +
  '"segments":[' +
  '{"id":"device","type":"device","displayName":"SIM-PC","categoryLabel":"Client","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":0,"details":{"hostname":"SIM-PC","os":"Linux 6.1.0"}},' +
  '{"id":"connection","type":"connection","displayName":"Ethernet","categoryLabel":"Link","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":1,"details":{"adapterType":"Ethernet","interfaceName":"eth0","linkSpeed":"2.5 Gbps"}},' +
  '{"id":"homeNetwork","type":"homeNetwork","displayName":"Example Networks","categoryLabel":"Gateway","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":2,"details":{"gatewayIP":"192.168.1.1","latencyMs":1.0,"packetLoss":0.0,"jitterMs":0.5}},' +
  '{"id":"isp","type":"isp","displayName":"EXAMPLE-CABLE","categoryLabel":"ISP","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":3,"details":{"publicIp":"203.0.113.45","asn":"AS64500"}},' +
  '{"id":"services","type":"services","displayName":"Video service","categoryLabel":"Destination","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":4,"details":{}}]}';

export const IMPAIRED =
  '{"type":"networkState","overallStatus":"critical","hops":[' +
  '{"hopNumber":1,"ip":"192.168.1.1","rttMs":1.0,"loss":0.0,"jitter":0.5,"segment":"LOCAL"},' +
  '{"hopNumber":2,"ip":"100.64.0.1","rttMs":10.0,"loss":20.0,"jitter":0.9,"segment":"ISP"}],' +
  '"segments":[' +
  '{"id":"isp","type":"isp","displayName":"Internet","categoryLabel":"ISP","status":"critical","isCulprit":true,"isVisible":true,"displayOrder":3,"details":{"status":"discovering"}},' +
  '{"id":"device","type":"device","displayName":"SIM-PC","categoryLabel":"Client","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":0,"details":{}}],' +
  '"culpritCallout":{"severity":"critical","segmentId":"isp","title":"ISP Issue","description":"Packet loss detected in your ISP\'s network.","remedy":"This is likely a temporary ISP issue. Contact them if it persists."}}';

export function hops(count: number, ipOf = (i: number) => `10.0.${i}.1`) {
  return Array.from({ length: count }, (_, i) => ({
    hopNumber: i + 1,
    ip: ipOf(i),
    rttMs: 5 + i,
    loss: 0,
    jitter: 1,
    segment: 'TRANS',
  }));
}

// WiFi losing one echo in five for the last half minute, half an hour into a run: the recent
// figures say so on every hop behind the link, the long-window ones have barely moved. Hop 5
// has not been echoed lately. The second hop is carrier-grade NAT
// (100.64.0.0/10): private-looking, traced as LOCAL, but the verdict counts it as the ISP's.
export const RECENT =
  '{"type":"networkState","overallStatus":"critical","hops":[' +
  '{"hopNumber":1,"ip":"192.168.1.1","hostname":"router.home","rttMs":2.1,"loss":0.7,"jitter":0.5,"segment":"LOCAL","segmentId":"connection","recentLoss":20.0,"recentSamples":40},' +
  '{"hopNumber":2,"ip":"100.64.0.1","rttMs":8.2,"loss":0.6,"jitter":1.5,"segment":"LOCAL","segmentId":"isp","recentLoss":17.5,"recentSamples":40},' +
  '{"hopNumber":3,"ip":"203.0.113.1","hostname":"bras1.city.isp.example","asn":"64500","asnName":"EXAMPLE-NET, ZZ","rttMs":10.3,"loss":4.1,"jitter":2.0,"segment":"ISP","segmentId":"isp","recentLoss":22.5,"recentSamples":40},' +
  '{"hopNumber":4,"ip":"*","rttMs":0,"loss":100,"jitter":0,"segment":"?","segmentId":"isp"},' +
  '{"hopNumber":5,"ip":"198.51.100.9","hostname":"ix1.transit.example","asn":"64510","rttMs":13.0,"loss":0.0,"jitter":2.0,"segment":"TRANS","segmentId":"isp"},' +
  '{"hopNumber":6,"ip":"1.1.1.1","hostname":"dns1.anycast.example","asn":"64520","rttMs":14.1,"loss":0.5,"jitter":2.5,"segment":"DEST","segmentId":"services","recentLoss":20.0,"recentSamples":39}],' +
  '"segments":[' +
  '{"id":"device","type":"device","displayName":"SIM-PC","categoryLabel":"Client","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":0,"details":{}},' +
  '{"id":"connection","type":"connection","displayName":"HomeNet","categoryLabel":"Link","status":"critical","isCulprit":true,"isVisible":true,"displayOrder":1,"details":{"ssid":"HomeNet"}},' +
  '{"id":"homeNetwork","type":"homeNetwork","displayName":"Gateway","categoryLabel":"Gateway","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":2,"details":{}},' +
  '{"id":"isp","type":"isp","displayName":"EXAMPLE-NET, ZZ","categoryLabel":"ISP","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":3,"details":{}},' +
  '{"id":"services","type":"services","displayName":"Cloudflare DNS","categoryLabel":"Destination","status":"healthy","isCulprit":false,"isVisible":true,"displayOrder":4,"details":{"hostname":"dns1.anycast.example"}}],' +
  '"culpritCallout":{"severity":"critical","segmentId":"connection","title":"WiFi Connection Issue","description":"Packet loss detected on your WiFi connection.","remedy":"Try moving closer to your router or reducing interference."}}';

// A computer that does not let the program send ICMP echo: nothing is measured, and the callout
// names no part of the path. Its remedy holds commands the user has to copy exactly.
export const PING_REMEDY =
  'Allow unprivileged ping for every group:\n' +
  '  sudo sysctl -w net.ipv4.ping_group_range="0 2147483647"\n' +
  'or let this program open raw sockets:\n' +
  '  sudo setcap cap_net_raw+ep /path/to/quillon';

export const PING_NOT_PERMITTED = JSON.stringify({
  type: 'networkState',
  overallStatus: 'unknown',
  hops: [],
  segments: [
    {
      id: 'device',
      type: 'device',
      displayName: 'SIM-PC',
      categoryLabel: 'Client',
      status: 'healthy',
      isCulprit: false,
      isVisible: true,
      displayOrder: 0,
      details: {},
    },
  ],
  culpritCallout: {
    severity: 'unknown',
    segmentId: '',
    title: 'Ping Not Permitted',
    description: 'This computer does not allow Quillon to send ping (ICMP echo) messages.',
    remedy: PING_REMEDY,
  },
});
