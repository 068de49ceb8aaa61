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
