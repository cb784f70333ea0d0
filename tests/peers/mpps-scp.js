// The RIS's side of the procedure steps for the tests: accepts Verification and Modality
// Performed Procedure Step from one calling AE title and writes each N-CREATE and N-SET it
// receives as one JSON line (command, SOP Instance UID, attributes) to the file named. As a
// second storage commitment SCP it commits every instance asked for and answers on the
// request's own association.
// Usage: node mpps-scp.js PORT CALLING_AE OUTPUT_FILE
const fs = require('fs');
const dimse = require('dcmjs-dimse');
const { Server, Scp } = dimse;
const { NCreateResponse, NSetResponse, NActionResponse, CEchoResponse } = dimse.responses;
const { NEventReportRequest } = dimse.requests;
const { Status, PresentationContextResult, RejectResult, RejectSource, RejectReason, SopClass, TransferSyntax } =
  dimse.constants;

const [port, callingAe, output] = process.argv.slice(2);
const kMpps = '1.2.840.10008.3.1.2.3.3';
const kCommitment = '1.2.840.10008.1.20.1';

function record(command, uid, dataset) {
  fs.appendFileSync(output, JSON.stringify({ command, uid, attributes: dataset ? dataset.getElements() : {} }) + '\n');
}

class MppsScp extends Scp {
  associationRequested(association) {
    if (association.getCallingAeTitle() !== callingAe) {
      this.sendAssociationReject(RejectResult.Permanent, RejectSource.ServiceUser, RejectReason.CallingAeNotRecognized);
      return;
    }
    for (const c of association.getPresentationContexts()) {
      const context = association.getPresentationContext(c.id);
      const syntax = context.getAbstractSyntaxUid();
      const offered = context.getTransferSyntaxUids();
      const accepted = [TransferSyntax.ExplicitVRLittleEndian, TransferSyntax.ImplicitVRLittleEndian].find((t) =>
        offered.includes(t));
      if ((syntax === kMpps || syntax === kCommitment || syntax === SopClass.Verification) && accepted)
        context.setResult(PresentationContextResult.Accept, accepted);
      else
        context.setResult(PresentationContextResult.RejectAbstractSyntaxNotSupported);
    }
    this.sendAssociationAccept();
  }

  cEchoRequest(request, callback) {
    const response = CEchoResponse.fromRequest(request);
    response.setStatus(Status.Success);
    callback(response);
  }

  nCreateRequest(request, callback) {
    record('N-CREATE', request.getAffectedSopInstanceUid(), request.getDataset());
    const response = NCreateResponse.fromRequest(request);
    response.setStatus(Status.Success);
    callback(response);
  }

  nSetRequest(request, callback) {
    record('N-SET', request.getRequestedSopInstanceUid(), request.getDataset());
    const response = NSetResponse.fromRequest(request);
    response.setStatus(Status.Success);
    callback(response);
  }

  nActionRequest(request, callback) {
    const asked = request.getDataset();
    record('N-ACTION', request.getRequestedSopInstanceUid(), asked);
    const response = NActionResponse.fromRequest(request);
    response.setStatus(Status.Success);
    callback(response);
    const report = new NEventReportRequest(kCommitment, request.getRequestedSopInstanceUid(), 1);
    report.setDataset(
      new dimse.Dataset({
        TransactionUID: asked.getElement('TransactionUID'),
        ReferencedSOPSequence: asked.getElement('ReferencedSOPSequence'),
      })
    );
    this.sendRequests(report);
  }

  associationReleaseRequested() {
    this.sendAssociationReleaseResponse();
  }
}

const server = new Server(MppsScp);
server.on('networkError', (e) => console.error('network error:', e.message));
server.listen(Number(port));
console.log('listening on', port);
