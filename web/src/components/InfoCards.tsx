import type { NetworkState } from '../messages';
import { NO_PING_TEXT, answersPing } from '../format';
import { DetailList } from './PathView';

// Link, public address and destination: each card only when the message carries it.
export function InfoCards({ state }: { state: NetworkState }) {
  const connection = state.segments.find((s) => s.id === 'connection');
  const destination = state.segments.find((s) => s.id === 'services');
  const isp = state.segments.find((s) => s.id === 'isp');
  // The link segment's details are the fuller ones; the top-level WiFi object stands in for them.
  const link = connection?.details ?? {};
  const wifi = 'ssid' in link ? link : state.wifiDetails;
  const wired = !wifi && link.adapterType ? link : undefined;
  const pub = state.publicIpInfo;
  const destDetails = destination && Object.keys(destination.details).length > 0 ? destination.details : undefined;
  if (!wifi && !wired && !pub && !destDetails) return null;

  return (
    <section class="cards" aria-label="Connection details">
      {wifi && (
        <article class="card" aria-labelledby="card-wifi">
          <h3 id="card-wifi">WiFi</h3>
          <DetailList details={wifi} />
        </article>
      )}
      {wired && (
        <article class="card" aria-labelledby="card-wired">
          <h3 id="card-wired">Wired connection</h3>
          <DetailList details={wired} />
        </article>
      )}
      {pub && (
        <article class="card" aria-labelledby="card-public">
          <h3 id="card-public">Public address and ISP</h3>
          <DetailList
            details={{
              publicIp: pub.ipAddress,
              ...(pub.hostname ? { publicHostname: pub.hostname } : {}),
              ...(pub.ispName ? { provider: pub.ispName } : {}),
              ...(pub.asn ? { asn: pub.asn } : {}),
              ...(isp?.details.location ? { location: isp.details.location } : {}),
            }}
          />
        </article>
      )}
      {destDetails && destination && (
        <article class="card" aria-labelledby="card-dest">
          <h3 id="card-dest">Destination: {destination.displayName}</h3>
          {!answersPing(destDetails) && <p class="card-note">{NO_PING_TEXT}</p>}
          <DetailList details={destDetails} />
        </article>
      )}
    </section>
  );
}
